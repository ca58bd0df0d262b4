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
    // A chunk of the (decoded) body. Returning false refuses it: the transfer pauses and
    // offers the same bytes again once resumed.
    virtual bool transferDidReceiveData(const std::uint8_t* bytes, std::size_t length) = 0;
    virtual void transferDidSendBodyData(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                         std::int64_t totalBytesExpectedToSend) = 0;
    // The end of the transfer; called once, after everything else.
    virtual void transferDidFinish(std::optional<Error> error) = 0;
};

}  // namespace pindle::platform
