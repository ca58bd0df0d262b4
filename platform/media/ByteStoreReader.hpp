// ByteStoreReader: an FFmpeg input that reads a MediaByteStore and never waits for bytes.
//
// The I/O context runs in direct mode, so the demuxer asks for exactly the bytes it needs
// instead of reading ahead into a buffer. A read at a position whose byte is missing records
// that position as the miss and fails at once; the caller turns the miss into a loading
// request and tries again when bytes have arrived. A demuxer must never see such a failure
// in the middle of a packet (it would take a truncated packet or the end of the file), so
// readers of packets check that a sample's bytes are present before reading it.
//
// Private to platform/media. Thread-safety: one reader belongs to one thread at a time; the
// store it reads is thread-safe. No callbacks.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/media/MediaByteStore.hpp"

namespace pindle::platform::ffmpeg {

class ByteStoreReader {
  public:
    enum class Outcome { opened, needsBytes, failed };

    // Tries to read the container's header from what `store` holds, with the named demuxer
    // ("mov") or by probing when `formatName` is empty; no stream-info pass is made, so no
    // packet is read. `opened` gives a reader in `reader`; `needsBytes` puts the first
    // missed offset in `missedOffset`; `failed` (bytes that are no timed media) fills
    // `error`.
    static Outcome open(std::shared_ptr<MediaByteStore> store, const std::string& formatName,
                        std::unique_ptr<ByteStoreReader>* reader, std::int64_t* missedOffset,
                        Error* error);

    ~ByteStoreReader();
    ByteStoreReader(const ByteStoreReader&) = delete;
    ByteStoreReader& operator=(const ByteStoreReader&) = delete;

    AVFormatContext* context() const { return context_; }
    const MediaByteStore& store() const { return *state_.store; }
    // The first missed offset since the last call, cleared by reading it.
    std::optional<std::int64_t> takeMiss();

    struct State {
        std::shared_ptr<MediaByteStore> store;
        std::int64_t position = 0;
        std::optional<std::int64_t> miss;
    };

  private:
    ByteStoreReader() = default;

    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    State state_;
};

}  // namespace pindle::platform::ffmpeg
