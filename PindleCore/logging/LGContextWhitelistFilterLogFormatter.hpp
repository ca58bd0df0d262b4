// LGContextWhitelistFilterLogFormatter: a formatter that passes the messages whose context is in
// its set and drops every other (an empty set drops everything). A message it passes keeps its own
// text.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "PindleCore/logging/LGLogFormatter.hpp"
#include "PindleCore/logging/LGLoggingContextSet.hpp"

namespace pindle {

class LGContextWhitelistFilterLogFormatter : public LGLogFormatter {
  public:
    LGContextWhitelistFilterLogFormatter() = default;
    LGContextWhitelistFilterLogFormatter(const LGContextWhitelistFilterLogFormatter&) = delete;
    LGContextWhitelistFilterLogFormatter& operator=(const LGContextWhitelistFilterLogFormatter&) =
        delete;

    void addToWhitelist(std::int64_t loggingContext) { contextSet_.addToSet(loggingContext); }
    void removeFromWhitelist(std::int64_t loggingContext) {
        contextSet_.removeFromSet(loggingContext);
    }
    std::vector<std::int64_t> whitelist() const { return contextSet_.currentSet(); }
    bool isOnWhitelist(std::int64_t loggingContext) const {
        return contextSet_.isInSet(loggingContext);
    }

    std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) override {
        if (contextSet_.isInSet(logMessage.context())) {
            return logMessage.message();
        }
        return std::nullopt;
    }

  private:
    LGLoggingContextSet contextSet_;
};

}  // namespace pindle
