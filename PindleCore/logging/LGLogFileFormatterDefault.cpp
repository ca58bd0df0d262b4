#include "PindleCore/logging/LGLogFileFormatterDefault.hpp"

namespace pindle {

LGLogFileFormatterDefault::LGLogFileFormatterDefault(
    std::optional<platform::DateFormatter> dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(*dateFormatter)
                                   : platform::DateFormatter(defaultDatePattern,
                                                             platform::TimeZone::local())) {}

std::optional<std::string> LGLogFileFormatterDefault::formatLogMessage(
    const LGLogMessage& logMessage) {
    constexpr std::string_view separator = "  ";
    constexpr std::size_t dateLengthGuess = 32;
    std::string line;
    line.reserve(dateLengthGuess + separator.size() + logMessage.message().size());
    dateFormatter_.append(logMessage.timestamp(), line);
    line += separator;
    line += logMessage.message();
    return line;
}

}  // namespace pindle
