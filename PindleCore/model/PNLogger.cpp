#include "PindleCore/model/PNLogger.hpp"

#include <array>

#include "platform/foundation/StandardOutput.hpp"

namespace pindle {

namespace {

struct Channel {
    PNLoggerType type;
    std::string_view name;
    bool on;
};

constexpr std::array<Channel, 10> channels{{
    {PNLoggerType::PLR, "PLR", true},
    {PNLoggerType::IPLR, "IPLR", true},
    {PNLoggerType::PLMNG, "PLMNG", true},
    {PNLoggerType::PLST, "PLST", true},
    {PNLoggerType::RQST, "RQST", true},
    {PNLoggerType::VDSR, "VDSR", true},
    {PNLoggerType::VDLD, "VDLD", true},
    {PNLoggerType::VDCH, "VDCH", true},
    {PNLoggerType::THRP, "THRP", false},
    {PNLoggerType::NTFS, "NTFS", true},
}};

const Channel& channel(PNLoggerType type) {
    return channels[static_cast<std::size_t>(type)];
}

}  // namespace

std::string_view rawValue(PNLoggerType type) {
    return channel(type).name;
}

std::optional<PNLoggerType> loggerTypeFromRawValue(std::string_view text) {
    for (const Channel& c : channels) {
        if (c.name == text)
            return c.type;
    }
    return std::nullopt;
}

PNLogger::PNLogger(PNLoggerType type)
    : type_(type), dateFormatter_(platform::DateFormatter::logTimestampPattern) {}

bool PNLogger::config(PNLoggerType type) {
    return channel(type).on;
}

void PNLogger::addPrefix(std::string prefix) {
    std::lock_guard lock(lock_);
    prefix_ = std::move(prefix);
}

void PNLogger::removePreffix() {
    std::lock_guard lock(lock_);
    prefix_.reset();
}

void PNLogger::log(std::string_view message) {
    if (!config(type_))
        return;
    std::lock_guard lock(lock_);
    std::string line = "[" + dateFormatter_.string(platform::Date::now()) + "][PINLET_";
    line += rawValue(type_);
    line += "]";
    if (prefix_) {
        line += " ";
        line += *prefix_;
    }
    line += " ";
    line += message;
    platform::StandardOutput::writeLine(line);
}

}  // namespace pindle
