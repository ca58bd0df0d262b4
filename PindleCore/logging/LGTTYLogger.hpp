// LGTTYLogger: the console logger: writes each log message as one line to standard error.
// The lines of one batch from the hub are gathered and written together when the batch ends
// (or when the next line would not fit in gatherLimit bytes, the size a pipe writes in one
// piece); a write holds whole lines only, so lines of different threads never interleave.
//
// A line reads "2026-03-01 14:05:09:042 MyApp[412:1a03] text": the local date and time with
// a colon before the milliseconds, the process name, the process id and the creating
// thread's id in hexadecimal (at most 8 digits). A custom-formatted text (a formatter
// result that differs from the message text) is written bare, with a line feed appended
// unless automaticallyAppendNewlineForCustomFormatters() is off.
//
// Colours: off by default. When enabled and the terminal takes colours (see
// LGTTYColorTable; the environment is read once, when the shared instance is made), a line
// gets the colours of the profile set for its tag, else of the first profile for its flag
// and exact context, else of the last profile for its flag and any context.
//
// One process-wide instance. Colour state is changed on the logger's queue: changes are
// asynchronous, and take effect for messages queued after them.
//
// Thread-safety: every operation may be called from any thread, except where a REQUIRES
// line says otherwise.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "PindleCore/logging/LGAbstractLogger.hpp"
#include "PindleCore/logging/LGCachedDateFormatter.hpp"
#include "PindleCore/logging/LGColor.hpp"
#include "PindleCore/logging/LGTTYColorTable.hpp"
#include "PindleCore/logging/LGTTYLoggerColorProfile.hpp"
#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

class LGTTYLogger final : public LGAbstractLogger {
  public:
    static constexpr const char* name = "p.logging.ttyLogger";
    static constexpr const char* unnamedAppName = "<UnnamedApp>";
    static constexpr std::size_t gatherLimit = 4096;

    static std::shared_ptr<LGTTYLogger> sharedInstance();

    void logMessage(const LGLogMessage& logMessage) override;
    void didLogMessageBatch() override;

    // REQUIRES: not called on the logging queue or the logger's queue.
    bool colorsEnabled() const;
    // Also installs the default error and warning colours when no flag has a profile yet.
    void setColorsEnabled(bool enabled);

    // Colours for every message of `mask` in any context.
    void setForegroundColor(std::optional<LGColor> foreground, std::optional<LGColor> background,
                            LGLogFlag mask);
    // Replaces the profile of the same mask and context, or adds one.
    void setForegroundColor(std::optional<LGColor> foreground, std::optional<LGColor> background,
                            LGLogFlag mask, std::int64_t context);
    // Colours for every message carrying `tag` (compared by identity). REQUIRES: tag set.
    void setForegroundColor(std::optional<LGColor> foreground, std::optional<LGColor> background,
                            const platform::ObjectPtr& tag);
    // Removes the profile of `mask` with context 0 (not one set for any context).
    void clearColorsForFlag(LGLogFlag mask);
    void clearColorsForFlag(LGLogFlag mask, std::int64_t context);
    void clearColorsForTag(const platform::ObjectPtr& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();

    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_.load(); }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool append) {
        appendNewline_.store(append);
    }

    const std::string& appName() const { return appName_; }
    const std::string& processID() const { return processID_; }
    const LGTTYColorTable& colorTable() const { return *table_; }

    // Use sharedInstance().
    struct Private {
        explicit Private() = default;
    };
    LGTTYLogger(Private, std::shared_ptr<const LGTTYColorTable> table);

  private:
    void loadDefaultColorProfiles();
    const LGTTYLoggerColorProfile* profileFor(const LGLogMessage& message) const;
    // Adds one line made of `pieces` to the gathered text, writing that out first when the
    // line would not fit; a line longer than gatherLimit is written on its own.
    void gather(std::span<const std::string_view> pieces);
    void writeGathered();

    const std::shared_ptr<const LGTTYColorTable> table_;
    const std::string appName_;
    const std::string processID_;
    const LGCachedDateFormatter timestampFormatter_;
    std::atomic<bool> appendNewline_{true};

    // Touched only on the logger's queue.
    bool colorsEnabled_ = false;
    std::vector<LGTTYLoggerColorProfile> profiles_;
    struct TagProfile {
        platform::ObjectPtr tag;  // keeps the key's object alive
        LGTTYLoggerColorProfile profile;
    };
    std::map<const platform::Object*, TagProfile> tagProfiles_;
    std::string gathered_;
    std::string timestamp_;  // reused for each line
};

}  // namespace pindle
