// PNLogger: the diagnostic lines of the newer code, one channel per logger.
//
// A component creates a logger for its channel and keeps it. A line of a channel that is on
// goes to standard output as
//     [<UTC timestamp yyyy-MM-dd HH:mm:ss.SSSZ>][PINLET_<channel>] [<prefix> ]<message>
// in one write. Every channel is on except THRP, by a fixed table; a line of a channel that is
// off costs one table lookup.
//
// Thread-safety: each logger has its own lock that serialises its lines and prefix changes;
// log from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

enum class PNLoggerType { PLR, IPLR, PLMNG, PLST, RQST, VDSR, VDLD, VDCH, THRP, NTFS };

// The channel's name, which is its raw value.
std::string_view rawValue(PNLoggerType type);
// The channel named exactly `text`; nothing otherwise.
std::optional<PNLoggerType> loggerTypeFromRawValue(std::string_view text);

class PNLogger {
  public:
    explicit PNLogger(PNLoggerType type);
    PNLogger(const PNLogger&) = delete;
    PNLogger& operator=(const PNLogger&) = delete;

    // Whether lines of `type` are written.
    static bool config(PNLoggerType type);

    PNLoggerType type() const { return type_; }

    // Replaces the prefix (an empty prefix still adds its separating blank).
    void addPrefix(std::string prefix);
    void removePreffix();
    void log(std::string_view message);

  private:
    const PNLoggerType type_;
    std::mutex lock_;
    std::optional<std::string> prefix_;      // guarded by lock_
    platform::DateFormatter dateFormatter_;  // guarded by lock_
};

}  // namespace pindle
