// UserDefaults: the application's small persistent key-value settings.
//
// Values are platform Values that JSON can hold. The standard defaults live in the file
// "Library/Preferences/<bundle identifier>.json" of the application container; every change
// is written through at once with an atomic file write, so a crash never leaves a torn file.
// When the container's home changes (tests move it), the standard defaults follow it.
//
// Thread-safety: all operations are safe from any thread; they serialise on one lock.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class UserDefaults {
  public:
    // The defaults of the current application container.
    static UserDefaults& standard();

    // Defaults kept in `path` (created on the first change).
    explicit UserDefaults(std::string path);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<Value> objectForKey(const std::string& key);
    std::optional<std::string> stringForKey(const std::string& key);
    // The stored value read as a boolean (a bool, or a number other than 0); false when absent.
    bool boolForKey(const std::string& key);

    // Stores `value` under `key`; a null value removes the key. Values JSON cannot hold are
    // refused (false).
    bool setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    const std::string& path() const { return path_; }

  private:
    // Follows the container's home for the standard defaults. REQUIRES: mutex_ held.
    void loadIfNeeded();
    void save();  // REQUIRES: mutex_ held

    const bool followsContainer_;
    std::mutex mutex_;
    std::string path_;     // guarded by mutex_
    bool loaded_ = false;  // guarded by mutex_
    Dictionary values_;    // guarded by mutex_

    struct FollowContainer {};
    explicit UserDefaults(FollowContainer);
};

}  // namespace pindle::platform
