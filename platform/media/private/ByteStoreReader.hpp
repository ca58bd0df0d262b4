// ByteStoreReader: the FFmpeg reader over a MediaByteStore that never waits for bytes.
//
// It asks for direct I/O, so the demuxer reads exactly the bytes it needs instead of reading
// ahead into a buffer. A read at a position whose byte is missing records that position as
// the miss and fails at once; the caller turns the miss into a loading request and tries
// again when bytes have arrived. A demuxer must never see such a failure in the middle of a
// packet (it would take a truncated packet or the end of the file), so readers of packets
// check that a sample's bytes are present before reading it.
//
// Private to platform/media. Thread-safety: one reader belongs to one thread at a time; the
// store it reads is thread-safe. No callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/media/MediaByteStore.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {

class ByteStoreReader final : public ffmpeg::Reader {
  public:
    enum class Outcome { opened, needsBytes, failed };

    // Tries to read the container's header from what `store` holds, with the named demuxer
    // ("mov") or by probing when `formatName` is empty; no stream-info pass is made, so no
    // packet is read. `opened` gives the input in `input`; `needsBytes` puts the first missed
    // offset in `missedOffset`; `failed` (bytes that are no timed media) fills `error`.
    static Outcome open(std::shared_ptr<MediaByteStore> store, const std::string& formatName,
                        std::unique_ptr<ffmpeg::Input>* input, std::int64_t* missedOffset,
                        Error* error);

    explicit ByteStoreReader(std::shared_ptr<MediaByteStore> store) : store_(std::move(store)) {}

    int read(std::uint8_t* buffer, int size) override;
    std::int64_t seek(std::int64_t offset, int whence) override;
    bool direct() const override { return true; }

    // The first missed offset since the last call, cleared by reading it.
    std::optional<std::int64_t> takeMiss();

  private:
    const std::shared_ptr<MediaByteStore> store_;
    std::int64_t position_ = 0;
    std::optional<std::int64_t> miss_;
};

}  // namespace pindle::platform
