#include "PindleCore/legacy/PInternalStateHost.hpp"

#include "platform/files/Bundle.hpp"
#include "platform/files/UserDefaults.hpp"

namespace pindle::legacy {

namespace {

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

}  // namespace

PInternalStateHost& PInternalStateHost::getInstance() {
    static PInternalStateHost* host = new PInternalStateHost;  // never destroyed
    return *host;
}

std::optional<std::string> PInternalStateHost::appID() const {
    if (std::optional<std::string> stored = defaults().stringForKey(appIDKey))
        return stored;
    return appIDFromPlist();
}

void PInternalStateHost::setAppID(const std::optional<std::string>& appID) {
    defaults().setObject(appID ? platform::Value(*appID) : platform::Value(), appIDKey);
}

std::optional<std::string> PInternalStateHost::appIDFromPlist() const {
    std::optional<platform::Value> entry = platform::Bundle::infoValue(appIDKey);
    if (!entry || !entry->asString())
        return std::nullopt;
    return *entry->asString();
}

std::optional<platform::Value> PInternalStateHost::rootGraphIDs() const {
    return defaults().objectForKey(rootGraphIDsKey);
}
void PInternalStateHost::setRootGraphIDs(const platform::Value& value) {
    defaults().setObject(value, rootGraphIDsKey);
}
bool PInternalStateHost::isGuest() const {
    return defaults().boolForKey(isGuestKey);
}
void PInternalStateHost::setIsGuest(bool isGuest) {
    defaults().setObject(isGuest, isGuestKey);
}
std::optional<platform::Value> PInternalStateHost::expiratonDate() const {
    return defaults().objectForKey(expirationDateKey);
}
void PInternalStateHost::setExpiratonDate(const platform::Value& value) {
    defaults().setObject(value, expirationDateKey);
}
std::optional<platform::Value> PInternalStateHost::dateOfLastVideo() const {
    return defaults().objectForKey(dateOfLastVideoKey);
}
void PInternalStateHost::setDateOfLastVideo(const platform::Value& value) {
    defaults().setObject(value, dateOfLastVideoKey);
}
std::optional<platform::Value> PInternalStateHost::userID() const {
    return defaults().objectForKey(userIDKey);
}
void PInternalStateHost::setUserID(const platform::Value& value) {
    defaults().setObject(value, userIDKey);
}

std::optional<std::string> PInternalStateHost::deviceToken() const {
    std::lock_guard lock(mutex_);
    return deviceToken_;
}

void PInternalStateHost::setDeviceToken(std::optional<std::string> token) {
    std::lock_guard lock(mutex_);
    deviceToken_ = std::move(token);
}

}  // namespace pindle::legacy
