// PNDownloader: ranged downloads of media files, chunk by chunk, with the file's total size.
//
// data(of:with:) asks for a byte range with a "Range" header and hands every chunk to the
// caller as it arrives; each chunk is first counted (bytes times 8) into the process-wide
// throughput estimate, which picks the playback resolution. The body of a reply outside
// 200-299 is neither handed on nor counted: the completion reports the status error, with a
// total size of 0 (the error page's length says nothing of the file).
//
// The chunks handed on are always the bytes of the range asked for, in order from its first
// byte: a server that ignores the range and answers 200 with the whole file has the bytes
// before the range dropped and those past a bounded range's end held back (they are still
// counted as throughput), so no caller ever takes file bytes for the wrong offset.
//
// Callbacks run on the requester's delegate queue (see PNRequester), without any lock held.
//
// Thread-safety: all operations may be called from any thread; downloads run concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

// A byte range: the first byte (from 0) and a length; a length of 0 or less means "to the
// end of the file".
struct PNByteRange {
    std::int64_t location = 0;
    std::int64_t length = 0;
    bool operator==(const PNByteRange&) const = default;
};

class PNDownloader {
  public:
    // The chunk is shared, not copied: a block that keeps the bytes (to hand them to another
    // queue) keeps the chunk.
    using DataBlock =
        std::function<void(const platform::SharedData& chunk, std::int64_t totalSize)>;
    using Completion =
        std::function<void(std::int64_t totalSize, const std::optional<platform::Error>& error)>;
    using BytesCompletion = std::function<void(const platform::Data& bytes, std::int64_t totalSize,
                                               const std::optional<platform::Error>& error)>;

    static constexpr double timeoutInterval = 120.0;

    PNDownloader() = delete;

    // REQUIRES: dataBlock and completion are callable. A range that starts before 0 or whose
    // end does not fit 64 bits completes with a bad-URL error and sends nothing.
    static PNCancellablePtr data(const platform::URL& url, PNByteRange range, DataBlock dataBlock,
                                 Completion completion);
    // The first two bytes of the file and its total size.
    static PNCancellablePtr firstTwoBitesAndSize(const platform::URL& url,
                                                 BytesCompletion completion);

    // "bytes=<first>-<last>", or "bytes=<first>-" for a range of length 0 or less. Nothing
    // when the range starts before 0 or its end does not fit 64 bits.
    static std::optional<std::string> httpHeader(PNByteRange range);
};

}  // namespace pindle
