// LGLogFileFormatterDefault: the line format of log files: the message's local date and
// time ("2026/03/01 14:05:09:042" unless another date formatter is given), two blanks and
// the message text.
//
// Thread-safety: immutable after construction; safe from any thread.
#pragma once

#include <optional>

#include "PindleCore/logging/LGCachedDateFormatter.hpp"
#include "PindleCore/logging/LGLogFormatter.hpp"
#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

class LGLogFileFormatterDefault : public LGLogFormatter {
  public:
    static constexpr const char* defaultDatePattern = "yyyy/MM/dd HH:mm:ss:SSS";

    explicit LGLogFileFormatterDefault(std::optional<platform::DateFormatter> dateFormatter = {});

    std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) override;

  private:
    const LGCachedDateFormatter dateFormatter_;
};

}  // namespace pindle
