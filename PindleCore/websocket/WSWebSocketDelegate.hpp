// WSWebSocketDelegate: what a WebSocket tells its owner. Every method is optional: the
// defaults do nothing, and implements() names the ones a delegate implements (all of them
// unless overridden). The socket asks once, when the delegate is set (see
// WSDelegateAvailableMethods), and never calls a method the delegate does not implement.
//
// Thread-safety: the socket calls these on its delegate queue (the main queue unless set
// otherwise), one at a time, in the order the events happened.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class WSWebSocket;

class WSWebSocketDelegate {
  public:
    // One per optional method, named after it less its `webSocket` prefix, in declaration
    // order (the order of WSDelegateAvailableMethods' bits).
    enum class Method {
        didReceiveMessage,
        didReceiveMessageWithString,
        didReceiveMessageWithData,
        didOpen,
        didFailWithError,
        didCloseWithCode,
        didReceivePing,
        didReceivePong,
        shouldConvertTextFrameToString,
    };

    virtual ~WSWebSocketDelegate() = default;

    // Whether the delegate implements `method`; all of them by default. A delegate that
    // answers false for a method never receives it (unless the socket's record of its
    // methods is replaced: WSDelegateController::setAvailableDelegateMethods()).
    virtual bool implements(Method /*method*/) const { return true; }

    // Every complete message, before the typed call below: a text message as a string
    // Value, a binary one (or a text one the delegate wants as bytes) as a
    // platform::Boxed<platform::Data> object.
    virtual void webSocketDidReceiveMessage(WSWebSocket&, const platform::Value& /*message*/) {}
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
