// LGContextBlacklistFilterLogFormatter: a formatter that drops the messages whose context is in its
// set and passes every other (an empty set passes everything). A message it passes keeps its own
// text.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "PindleCore/logging/LGLogFormatter.hpp"
#include "PindleCore/logging/LGLoggingContextSet.hpp"

namespace pindle {

class LGContextBlacklistFilterLogFormatter : public LGLogFormatter {
  public:
    LGContextBlacklistFilterLogFormatter() = default;
    LGContextBlacklistFilterLogFormatter(const LGContextBlacklistFilterLogFormatter&) = delete;
    LGContextBlacklistFilterLogFormatter& operator=(const LGContextBlacklistFilterLogFormatter&) =
        delete;

    void addToBlacklist(std::int64_t loggingContext) { contextSet_.addToSet(loggingContext); }
    void removeFromBlacklist(std::int64_t loggingContext) {
        contextSet_.removeFromSet(loggingContext);
    }
    std::vector<std::int64_t> blacklist() const { return contextSet_.currentSet(); }
    bool isOnBlacklist(std::int64_t loggingContext) const {
        return contextSet_.isInSet(loggingContext);
    }

    std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) override {
        if (!contextSet_.isInSet(logMessage.context())) {
            return logMessage.message();
        }
        return std::nullopt;
    }

  private:
    LGLoggingContextSet contextSet_;
};

}  // namespace pindle
