// LGDispatchQueueLogFormatter: a formatter that shows where a message was logged: its local
// date and time, then in brackets the label of the queue it was logged on, then the text
// ("2026-03-01 14:05:09:042 [main] text").
//
// The label: the message's queue label unless it is empty or one of the shared global
// queues' labels, else the thread's name, else the thread's id. A queue label or thread name
// is shown as its replacement when one is set ("com.apple.main-thread" shows as "main").
// A maximum length (0: none) cuts longer labels; a minimum length pads shorter ones on the
// right with blanks.
//
// Thread-safety: all operations are safe from any thread; one formatter may serve several
// loggers at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/logging/LGLogFormatter.hpp"
#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

class LGDispatchQueueLogFormatter : public LGLogFormatter {
  public:
    static constexpr const char* defaultDatePattern = "yyyy-MM-dd HH:mm:ss:SSS";
    static constexpr const char* mainQueueLabel = "com.apple.main-thread";
    static constexpr const char* mainQueueReplacement = "main";

    explicit LGDispatchQueueLogFormatter(std::string datePattern = defaultDatePattern);
    LGDispatchQueueLogFormatter(const LGDispatchQueueLogFormatter&) = delete;
    LGDispatchQueueLogFormatter& operator=(const LGDispatchQueueLogFormatter&) = delete;

    std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) override;
    void didAddToLogger(LGLogger& logger) override;
    void willRemoveFromLogger(LGLogger& logger) override;

    std::optional<std::string> replacementStringForQueueLabel(const std::string& label) const;
    // Nothing removes the label's replacement.
    void setReplacementString(std::optional<std::string> replacement, const std::string& label);

    std::string stringFromDate(platform::Date date) const;
    std::string queueThreadLabelForLogMessage(const LGLogMessage& logMessage) const;

    std::uint64_t minQueueLength() const { return minQueueLength_.load(); }
    void setMinQueueLength(std::uint64_t length) { minQueueLength_.store(length); }
    std::uint64_t maxQueueLength() const { return maxQueueLength_.load(); }
    void setMaxQueueLength(std::uint64_t length) { maxQueueLength_.store(length); }
    // How many loggers use this formatter now.
    int loggerCount() const { return loggerCount_.load(); }

  private:
    // The platform date formatter is immutable and shared safely by threads, so one serves
    // every logger.
    const platform::DateFormatter dateFormatter_;
    std::atomic<int> loggerCount_{0};
    std::atomic<std::uint64_t> minQueueLength_{0};
    std::atomic<std::uint64_t> maxQueueLength_{0};

    mutable std::mutex mutex_;
    std::map<std::string, std::string> replacements_;  // guarded by mutex_
};

}  // namespace pindle
