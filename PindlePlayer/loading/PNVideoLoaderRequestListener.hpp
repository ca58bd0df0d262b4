// PNVideoLoaderRequestListener: what a video loader request needs of one of the player's
// byte-range reads that it serves (the video loader's listener implements it). The request
// tells it the file's total length, hands it bytes at their file offsets and completes it,
// or fails it when the file cannot be had.
//
// Thread-safety: the request calls every operation on its own serial queue, never under a
// lock; range() and dataOffset() may also be read from that queue only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "PindleCore/api/PNDownloader.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle {

class PNVideoLoaderRequestListener {
  public:
    virtual ~PNVideoLoaderRequestListener() = default;

    // Identifies the read: listeners with equal ids are the same read.
    virtual std::string id() const = 0;
    // The bytes the read asks for; a negative length asks for the rest of the file.
    virtual PNByteRange range() const = 0;
    // The next file offset the read still needs.
    virtual std::int64_t dataOffset() const = 0;
    // The total length of the file.
    virtual void size(std::int64_t size) = 0;
    // Bytes of the file starting at `offset`.
    virtual void dataBlock(const platform::Data& data, std::int64_t offset) = 0;
    // The request has nothing more for this read; an error when it failed.
    virtual void completed(const std::optional<platform::Error>& error) = 0;
    // The read can never be served (the server refuses the file for good): it ends with
    // `error`, whatever it still misses.
    virtual void failed(const platform::Error& error) = 0;
};

using PNVideoLoaderRequestListenerPtr = std::shared_ptr<PNVideoLoaderRequestListener>;

}  // namespace pindle
