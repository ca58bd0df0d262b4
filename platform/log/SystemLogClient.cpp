#include "platform/log/SystemLogClient.hpp"

#include <errno.h>

namespace pindle::platform {

SystemLogClient::SystemLogClient(SystemLog& log, std::optional<std::string> identity,
                                 std::string facility)
    : log_(log),
      sender_(identity ? std::move(*identity) : std::string(program_invocation_short_name)),
      facility_(std::move(facility)) {}

std::uint64_t SystemLogClient::send(const SystemLogMessage& message) {
    return log_.send(message, sender_, facility_);
}

}  // namespace pindle::platform
