// PInternalStateHost: the legacy part's state: the application identifier and a few stored
// values in the standard user defaults, and the push-notification device token in memory.
//
// Setting a value to nothing removes its key.
//
// Thread-safety: the device token is guarded by a lock; user defaults serialise themselves.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::legacy {

class PInternalStateHost {
  public:
    static constexpr const char* appIDKey = "P App ID";
    static constexpr const char* rootGraphIDsKey = "ROOT_GRAPH_KEY";
    static constexpr const char* isGuestKey = "IS_GUEST_KEY";
    static constexpr const char* expirationDateKey = "AUTH_TOKEN_EXPIRATION_DATE_KEY";
    static constexpr const char* dateOfLastVideoKey = "DATE_OF_LAST_VIDEO_KEY";
    static constexpr const char* userIDKey = "USER_ID_KEY";

    static PInternalStateHost& getInstance();

    PInternalStateHost(const PInternalStateHost&) = delete;
    PInternalStateHost& operator=(const PInternalStateHost&) = delete;

    // The stored identifier, else the bundle's Info entry "P App ID".
    std::optional<std::string> appID() const;
    void setAppID(const std::optional<std::string>& appID);
    // The bundle's Info entry "P App ID" alone.
    std::optional<std::string> appIDFromPlist() const;

    std::optional<platform::Value> rootGraphIDs() const;
    void setRootGraphIDs(const platform::Value& value);
    bool isGuest() const;
    void setIsGuest(bool isGuest);
    std::optional<platform::Value> expiratonDate() const;
    void setExpiratonDate(const platform::Value& value);
    std::optional<platform::Value> dateOfLastVideo() const;
    void setDateOfLastVideo(const platform::Value& value);
    std::optional<platform::Value> userID() const;
    void setUserID(const platform::Value& value);

    std::optional<std::string> deviceToken() const;
    void setDeviceToken(std::optional<std::string> token);

  private:
    PInternalStateHost() = default;

    mutable std::mutex mutex_;
    std::optional<std::string> deviceToken_;  // guarded by mutex_
};

}  // namespace pindle::legacy
