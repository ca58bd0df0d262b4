// PGoogleDriveHelper: builds the requests of the storage service's resumable uploads.
//
// Thread-safety: stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/net/URLRequest.hpp"

namespace pindle::legacy {

class PGoogleDriveHelper {
  public:
    PGoogleDriveHelper() = delete;

    // POST to the description's "sessionUrl" with "x-goog-resumable: start"; nothing when the
    // description has no usable "sessionUrl".
    static std::optional<platform::URLRequest> requestForInitializingResumableDescription(
        const platform::Dictionary& description);
    // PUT of `data` to the session URL, "Content-Range: bytes <first>-<last>/<total or *>".
    static platform::URLRequest requestForUploadingResumableData(platform::Data data,
                                                                 std::int64_t firstByte,
                                                                 std::int64_t totalSize,
                                                                 const platform::URL& url,
                                                                 bool lastChunk);
    // The same PUT for `length` bytes without its body, for a body sent from a file: its
    // length goes out with the body.
    static platform::URLRequest requestForUploadingResumableRange(std::int64_t firstByte,
                                                                  std::int64_t length,
                                                                  std::int64_t totalSize,
                                                                  const platform::URL& url,
                                                                  bool lastChunk);
    // The empty PUT that asks the session what it has persisted: "Content-Range: bytes */<total>",
    // or "bytes */*" while the total is unknown.
    static platform::URLRequest requestForUploadStatus(const platform::URL& url,
                                                       std::optional<std::int64_t> totalSize);
    // PUT of `data` to `url`.
    static platform::URLRequest requestForUploadingData(platform::Data data,
                                                        const platform::URL& url);

    // Where the gateway keeps uploaded media: the upload descriptions it hands out point below
    // this path of the gateway host.
    static constexpr const char* storageRootPath = "/uploads";
    // The storage URL of `key` ("<video>/<file>"): the gateway's protocol and host (see
    // PNAPIConstants), storageRootPath, then the key, escaped as a path. Nothing for a key that
    // is empty or has an empty, "." or ".." piece, which would name no object or one outside
    // the storage.
    static std::optional<platform::URL> getGoogleDriveURLByKey(const std::string& key);
};

}  // namespace pindle::legacy
