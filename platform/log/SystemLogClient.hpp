// SystemLogClient: a connection through which one part of the process sends records to the
// system log, under a sender name and a facility.
//
// Thread-safety: send() may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/log/SystemLog.hpp"
#include "platform/log/SystemLogMessage.hpp"

namespace pindle::platform {

class SystemLogClient {
  public:
    // Without an identity the sender is the process name.
    SystemLogClient(SystemLog& log, std::optional<std::string> identity, std::string facility);
    SystemLogClient(const SystemLogClient&) = delete;
    SystemLogClient& operator=(const SystemLogClient&) = delete;

    // Returns the new record's identifier.
    std::uint64_t send(const SystemLogMessage& message);

    const std::string& sender() const { return sender_; }
    const std::string& facility() const { return facility_; }

  private:
    SystemLog& log_;
    const std::string sender_;
    const std::string facility_;
};

}  // namespace pindle::platform
