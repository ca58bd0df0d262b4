// SystemLogMessage: one record of the system log: a set of keys, each with a text value,
// like the platform's log messages ("Message", "Level", "Time", ...).
//
// A client fills a few keys and sends it; the store adds the identifier, the time, the
// process id and the sender before it keeps the record, and queries and readers see the
// whole set. Numeric values are decimal texts, as the platform keeps them.
//
// Thread-safety: a plain value type.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace pindle::platform {

class SystemLogMessage {
  public:
    static constexpr const char* keyMessageID = "ASLMessageID";
    static constexpr const char* keyTime = "Time";
    static constexpr const char* keyTimeNanoSec = "TimeNanoSec";
    static constexpr const char* keyLevel = "Level";
    static constexpr const char* keyMessage = "Message";
    static constexpr const char* keyReadUID = "ReadUID";
    static constexpr const char* keyPID = "PID";
    static constexpr const char* keySender = "Sender";
    static constexpr const char* keyFacility = "Facility";

    // Sets `key` to `value`. Fails (false, nothing changed) for an empty key.
    bool set(const std::string& key, std::string value);
    std::optional<std::string> get(const std::string& key) const;
    void remove(const std::string& key) { values_.erase(key); }

    const std::map<std::string, std::string>& values() const { return values_; }

  private:
    std::map<std::string, std::string> values_;
};

}  // namespace pindle::platform
