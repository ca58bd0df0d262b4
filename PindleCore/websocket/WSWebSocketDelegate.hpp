// WSWebSocketDelegate: what a WebSocket tells its owner. Every method is optional (the
// defaults do nothing).
//
// Thread-safety: the socket calls these on its delegate queue (the main queue unless set
// otherwise), one at a time, in the order the events happened.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle {

class WSWebSocket;

class WSWebSocketDelegate {
  public:
    virtual ~WSWebSocketDelegate() = default;

    // A complete text message (valid UTF-8).
    virtual void webSocketDidReceiveMessageWithString(WSWebSocket&, const std::string&) {}
    // A complete binary message, or a text message when shouldConvertTextFrameToString()
    // answers false.
    virtual void webSocketDidReceiveMessageWithData(WSWebSocket&, const platform::Data&) {}
    virtual void webSocketDidOpen(WSWebSocket&) {}
    // The connection failed; no close report follows.
    virtual void webSocketDidFailWithError(WSWebSocket&, const platform::Error&) {}
    // The connection ended. With `wasClean`, `code` and `reason` are those of the server's
    // close frame (1005 when it carried none); otherwise no close frame came and `code` is
    // 1006, with the local reason (a violation by the server, "Stream end encountered").
    virtual void webSocketDidCloseWithCode(WSWebSocket&, int /*code*/,
                                           const std::optional<std::string>& /*reason*/,
                                           bool /*wasClean*/) {}
    virtual void webSocketDidReceivePing(WSWebSocket&, const platform::Data&) {}
    virtual void webSocketDidReceivePong(WSWebSocket&, const platform::Data&) {}
    virtual bool webSocketShouldConvertTextFrameToString(WSWebSocket&) { return true; }
};

}  // namespace pindle
