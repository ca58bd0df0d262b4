// TransferEvents: how a transfer on the network thread reports to the task that owns it.
//
// Every call arrives on the network thread, which runs no user code: implementations record
// what happened, hand callbacks to their delegate queue and return at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class URLResponse;

class TransferEvents {
  public:
    virtual ~TransferEvents() = default;

    // The final response's header fields are in; body bytes may follow. Returning false
    // holds the body back until the transfer is resumed.
    virtual bool transferDidReceiveResponse(std::shared_ptr<URLResponse> response) = 0;
    // What became of a chunk of the body.
    enum class Taking {
        taken,
        // Taken, and no more is wanted for now: the transfer pauses until it is resumed. Taking
        // the bytes that fill the room spares libcurl a copy of them of its own.
        takenThenPause,
        // Refused: the transfer pauses and offers the same bytes again once resumed.
        refused,
    };
    // A chunk of the (decoded) body.
    virtual Taking transferDidReceiveData(const std::uint8_t* bytes, std::size_t length) = 0;
    virtual void transferDidSendBodyData(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                         std::int64_t totalBytesExpectedToSend) = 0;
    // The end of the transfer; called once, after everything else.
    virtual void transferDidFinish(std::optional<Error> error) = 0;
};

}  // namespace pindle::platform
