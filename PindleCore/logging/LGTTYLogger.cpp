#include "PindleCore/logging/LGTTYLogger.hpp"

#include <algorithm>
#include <array>

#include "platform/files/ProcessInfo.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle {

namespace {

constexpr const char* timestampPattern = "yyyy-MM-dd HH:mm:ss:SSS";
constexpr std::size_t maxThreadIDLength = 8;
constexpr LGColor defaultErrorColor = LGColor::fromBytes(214, 57, 30);
constexpr LGColor defaultWarningColor = LGColor::fromBytes(204, 121, 32);

std::string processName() {
    const std::string& name = platform::ProcessInfo::processName();
    return name.empty() ? LGTTYLogger::unnamedAppName : name;
}

}  // namespace

std::shared_ptr<LGTTYLogger> LGTTYLogger::sharedInstance() {
    static auto* instance = new std::shared_ptr<LGTTYLogger>([] {
        auto mode = LGTTYColorTable::modeForEnvironment(
            platform::ProcessInfo::environmentValue("XcodeColors"),
            platform::ProcessInfo::environmentValue("TERM"));
        return std::make_shared<LGTTYLogger>(Private(),
                                             std::make_shared<const LGTTYColorTable>(mode));
    }());
    return *instance;
}

LGTTYLogger::LGTTYLogger(Private, std::shared_ptr<const LGTTYColorTable> table)
    : LGAbstractLogger(name),
      table_(std::move(table)),
      appName_(processName()),
      processID_(std::to_string(platform::ProcessInfo::processIdentifier())),
      timestampFormatter_(platform::DateFormatter(timestampPattern, platform::TimeZone::local())) {}

void LGTTYLogger::logMessage(const LGLogMessage& logMessage) {
    bool customFormatted = false;
    std::string storage;
    std::optional<std::string_view> text = formattedText(logMessage, storage, customFormatted);
    if (!text) {
        return;
    }

    std::string_view fgCode, bgCode, resetCode;
    if (const LGTTYLoggerColorProfile* profile =
            colorsEnabled_ ? profileFor(logMessage) : nullptr) {
        fgCode = profile->fgCode();
        bgCode = profile->bgCode();
        resetCode = profile->resetCode();
    }
    bool endsWithNewline = !text->empty() && text->back() == '\n';

    if (customFormatted) {
        bool appendNewline = appendNewline_.load() && !endsWithNewline;
        std::array<std::string_view, 5> pieces{fgCode, bgCode, *text, appendNewline ? "\n" : "",
                                               resetCode};
        gather(pieces);
        return;
    }

    timestamp_.clear();
    timestampFormatter_.append(logMessage.timestamp(), timestamp_);
    std::string_view threadID = logMessage.threadID();
    threadID = threadID.substr(0, maxThreadIDLength);
    std::array<std::string_view, 13> pieces{
        fgCode,     bgCode, timestamp_, " ",  appName_, "[",
        processID_, ":",    threadID,   "] ", *text,    endsWithNewline ? "" : "\n",
        resetCode};
    gather(pieces);
}

void LGTTYLogger::didLogMessageBatch() {
    writeGathered();
}

void LGTTYLogger::gather(std::span<const std::string_view> pieces) {
    std::size_t length = 0;
    for (auto piece : pieces) {
        length += piece.size();
    }
    if (gathered_.size() + length > gatherLimit) {
        writeGathered();
    }
    if (length > gatherLimit) {
        platform::StandardError::writeGathered(pieces);
        return;
    }
    for (auto piece : pieces) {
        gathered_.append(piece);
    }
}

void LGTTYLogger::writeGathered() {
    if (gathered_.empty()) {
        return;
    }
    std::string_view pieces[] = {gathered_};
    platform::StandardError::writeGathered(pieces);
    gathered_.clear();
}

const LGTTYLoggerColorProfile* LGTTYLogger::profileFor(const LGLogMessage& message) const {
    if (message.tag()) {
        auto found = tagProfiles_.find(message.tag().get());
        if (found != tagProfiles_.end()) {
            return &found->second.profile;
        }
    }
    const LGTTYLoggerColorProfile* anyContextProfile = nullptr;
    for (const auto& profile : profiles_) {
        if ((profile.mask() & message.flag()) == 0) {
            continue;
        }
        if (profile.context() == message.context()) {
            return &profile;
        }
        if (profile.context() == LGTTYLoggerColorProfile::anyContext) {
            anyContextProfile = &profile;
        }
    }
    return anyContextProfile;
}

bool LGTTYLogger::colorsEnabled() const {
    bool enabled = false;
    syncOnLoggerQueue([&] { enabled = colorsEnabled_; });
    return enabled;
}

void LGTTYLogger::setColorsEnabled(bool enabled) {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self, enabled] {
        self->colorsEnabled_ = enabled;
        if (self->profiles_.empty()) {
            self->loadDefaultColorProfiles();
        }
    });
}

void LGTTYLogger::loadDefaultColorProfiles() {
    setForegroundColor(defaultErrorColor, std::nullopt, LGLogFlagError);
    setForegroundColor(defaultWarningColor, std::nullopt, LGLogFlagWarning);
}

void LGTTYLogger::setForegroundColor(std::optional<LGColor> foreground,
                                     std::optional<LGColor> background, LGLogFlag mask) {
    setForegroundColor(foreground, background, mask, LGTTYLoggerColorProfile::anyContext);
}

void LGTTYLogger::setForegroundColor(std::optional<LGColor> foreground,
                                     std::optional<LGColor> background, LGLogFlag mask,
                                     std::int64_t context) {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self, foreground, background, mask, context] {
        LGTTYLoggerColorProfile profile(foreground, background, mask, context, *self->table_);
        auto& profiles = self->profiles_;
        auto found = std::find_if(profiles.begin(), profiles.end(), [&](const auto& existing) {
            return existing.mask() == mask && existing.context() == context;
        });
        if (found != profiles.end()) {
            *found = profile;
        } else {
            profiles.push_back(profile);
        }
    });
}

void LGTTYLogger::setForegroundColor(std::optional<LGColor> foreground,
                                     std::optional<LGColor> background,
                                     const platform::ObjectPtr& tag) {
    if (!tag) {
        return;
    }
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self, foreground, background, tag] {
        LGTTYLoggerColorProfile profile(foreground, background, 0, 0, *self->table_);
        self->tagProfiles_.insert_or_assign(tag.get(), TagProfile{tag, profile});
    });
}

void LGTTYLogger::clearColorsForFlag(LGLogFlag mask) {
    clearColorsForFlag(mask, 0);
}

void LGTTYLogger::clearColorsForFlag(LGLogFlag mask, std::int64_t context) {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self, mask, context] {
        auto& profiles = self->profiles_;
        auto found = std::find_if(profiles.begin(), profiles.end(), [&](const auto& existing) {
            return existing.mask() == mask && existing.context() == context;
        });
        if (found != profiles.end()) {
            profiles.erase(found);
        }
    });
}

void LGTTYLogger::clearColorsForTag(const platform::ObjectPtr& tag) {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self, key = tag.get()] { self->tagProfiles_.erase(key); });
}

void LGTTYLogger::clearColorsForAllFlags() {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self] { self->profiles_.clear(); });
}

void LGTTYLogger::clearColorsForAllTags() {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self] { self->tagProfiles_.clear(); });
}

void LGTTYLogger::clearAllColors() {
    auto self = std::static_pointer_cast<LGTTYLogger>(shared_from_this());
    runOnLoggerQueue([self] {
        self->profiles_.clear();
        self->tagProfiles_.clear();
    });
}

}  // namespace pindle
