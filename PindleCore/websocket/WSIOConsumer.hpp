// WSIOConsumer: one queued read of a WebSocket's frame reader: either a scanner that says
// how many of the unread bytes complete the read, or a fixed count of bytes; the bytes go
// to the handler or, for payloads, to the message being assembled.
//
// Thread-safety: none; used only on its socket's work queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/foundation/Data.hpp"

namespace pindle {

class WSIOConsumer {
  public:
    // Given the unread bytes, how many of them complete this read; 0 when not yet.
    using Scanner = std::function<std::size_t(const std::uint8_t* bytes, std::size_t length)>;
    using Handler = std::function<void(const platform::Data& bytes)>;

    // REQUIRES: a scanner, or a non-zero count.
    void reset(Scanner scanner, Handler handler, std::size_t bytesNeeded, bool readToCurrentFrame,
               bool unmaskBytes);

    const Scanner& scanner() const { return scanner_; }
    const Handler& handler() const { return handler_; }
    std::size_t bytesNeeded() const { return bytesNeeded_; }
    void setBytesNeeded(std::size_t count) { bytesNeeded_ = count; }
    bool readToCurrentFrame() const { return readToCurrentFrame_; }
    bool unmaskBytes() const { return unmaskBytes_; }

  private:
    Scanner scanner_;
    Handler handler_;
    std::size_t bytesNeeded_ = 0;
    bool readToCurrentFrame_ = false;
    bool unmaskBytes_ = false;
};

}  // namespace pindle
