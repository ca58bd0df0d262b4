// WSFrameReader: turns the bytes a WebSocket server sends, after the upgrade answer, into
// messages and control frames, and decides every protocol violation the moment the bytes
// that prove it arrive.
//
// Bytes go in through consume() in pieces of any size. Complete text and binary messages
// (fragments reassembled, text checked as UTF-8 as it arrives), pings, pongs and the close
// frame come out through the callbacks, synchronously, in order. A violation is reported
// once through `fail` with the close code to send (1002 protocol error, 1007 invalid text,
// 1009 message too big); a message that cannot be held in memory once through `cannotHold`.
// After a close frame or a failure the reader takes no further byte: whatever follows on
// the wire is never interpreted.
//
// Limits: a control frame carries at most 125 bytes; a message, counted over all of its
// fragments, at most maximumMessageSize bytes, checked at each frame header before any of
// the payload is stored; a 64-bit length with its top bit set is a violation. Memory held
// is therefore bounded by the message limit, whatever lengths a peer announces.
//
// Thread-safety: none; one owner feeds it from one thread. Callbacks must not call
// consume() again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"

namespace pindle {

class WSFrameReader {
  public:
    static constexpr std::size_t defaultMaximumMessageSize = 64u << 20;

    struct Callbacks {
        std::function<void(const std::string& text)> text;
        std::function<void(const platform::Data& bytes)> binary;
        std::function<void(const platform::Data& payload)> ping;
        std::function<void(const platform::Data& payload)> pong;
        // The server's close frame: its code (1005 when it carried none) and reason.
        std::function<void(int code, const std::optional<std::string>& reason)> close;
        std::function<void(int closeCode, const std::string& reason)> fail;
        // The message being read cannot be held in memory (its fragments add up past the
        // largest buffer, or an allocation failed); nothing more is read.
        std::function<void()> cannotHold;
    };

    explicit WSFrameReader(Callbacks callbacks,
                           std::size_t maximumMessageSize = defaultMaximumMessageSize);
    WSFrameReader(const WSFrameReader&) = delete;
    WSFrameReader& operator=(const WSFrameReader&) = delete;

    // Reads `length` bytes. Nothing happens once stopped.
    void consume(const std::uint8_t* bytes, std::size_t length);

    // After a close frame, a failure, or stop(): no further byte is read.
    bool stopped() const { return stopped_; }
    void stop() { stopped_ = true; }

    // Bytes of the message being assembled (for tests and limits).
    std::size_t pendingMessageSize() const { return message_.size(); }

  private:
    enum class Stage { header, extendedLength, payload };
    static constexpr std::size_t maximumControlPayload = 125;

    void headerComplete();
    void lengthComplete();
    void payloadComplete();
    void frameComplete();
    bool checkText(bool final);
    void handleClose(const platform::Data& payload);
    void fail(int closeCode, const std::string& reason);
    void cannotHold();
    void consumeBytes(const std::uint8_t* bytes, std::size_t length);

    const Callbacks callbacks_;
    const std::size_t maximumMessageSize_;

    Stage stage_ = Stage::header;
    bool stopped_ = false;
    std::uint8_t header_[8] = {};
    std::size_t headerHave_ = 0;
    std::size_t headerNeed_ = 2;

    // The frame being read.
    std::uint8_t frameOpcode_ = 0;
    bool frameFinal_ = false;
    std::uint64_t frameLength_ = 0;
    std::uint64_t frameRead_ = 0;
    platform::Data control_;

    // The message being assembled across fragments; opcode 0 when none is open.
    std::uint8_t messageOpcode_ = 0;
    platform::Data message_;
    std::size_t textChecked_ = 0;
};

}  // namespace pindle
