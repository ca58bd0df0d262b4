#include "PindleCore/logging/LGLogFileFormatterDefault.hpp"

namespace pindle {

LGLogFileFormatterDefault::LGLogFileFormatterDefault(
    std::optional<platform::DateFormatter> dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(*dateFormatter)
                                   : platform::DateFormatter(defaultDatePattern,
                                                             platform::TimeZone::local())) {}

std::optional<std::string> LGLogFileFormatterDefault::formatLogMessage(
    const LGLogMessage& logMessage) {
    return dateFormatter_.string(logMessage.timestamp()) + "  " + logMessage.message();
}

}  // namespace pindle
