// WSFrameFormat: the numbers of the WebSocket frame format that both the reader of the
// server's frames and the writer of the client's own use.
//
// Thread-safety: constants; use from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pindle::ws_frame {

enum Opcode : std::uint8_t {
    continuation = 0x0,
    text = 0x1,
    binary = 0x2,
    connectionClose = 0x8,
    ping = 0x9,
    pong = 0xA,
};

// A close frame's payload opens with the code, in network order; the reason follows.
inline constexpr std::size_t closeCodeBytes = 2;

}  // namespace pindle::ws_frame
