// FileResourceFeeder: the resource-loader delegate a player item sets for a file URL that
// has none, so local files play through the same loading path as the host's own schemes.
// It answers the content information from the file's size and extension, and data requests
// from the file in 64 KiB steps, one step per turn of its queue, so a cancellation takes
// effect between steps. A file that cannot be read finishes the request with its error.
//
// Thread-safety: called on the serial queue it is registered with; it answers there.
#pragma once

#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/AssetResourceLoaderDelegate.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"

namespace pindle::platform {

class FileResourceFeeder final : public AssetResourceLoaderDelegate,
                                 public std::enable_shared_from_this<FileResourceFeeder> {
  public:
    static constexpr std::int64_t stepSize = 64 * 1024;

    explicit FileResourceFeeder(const URL& url);
    // The serial queue to register the feeder with.
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

    bool shouldWaitForLoadingOfRequestedResource(
        AssetResourceLoader& loader, const AssetResourceLoadingRequestPtr& request) override;

  private:
    void feed(const AssetResourceLoadingRequestPtr& request);

    const std::string path_;
    const std::string contentType_;
    const std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace pindle::platform
