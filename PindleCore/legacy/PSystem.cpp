#include "PindleCore/legacy/PSystem.hpp"

#include <atomic>
#include <cstdio>

#include "PindleCore/device/PBandwidthService.hpp"
#include "PindleCore/device/PLocationService.hpp"
#include "PindleCore/legacy/PInternalStateHost.hpp"
#include "PindleCore/legacy/private/PUploadsRestart.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle::legacy {

namespace {
constexpr double uploadRestartDelay = 1.0;  // seconds
std::atomic<int> launches{0};
std::atomic<int> resets{0};
}  // namespace

void PSystem::launch(const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    ++launches;
    PBandwidthService::getInstance();
    // The desktop's location service may take its time (or never answer): the location
    // service comes up in the background, so that starting a session never waits for it.
    platform::DispatchQueue::global(platform::DispatchQoS::utility)->async([] {
        PLocationService::getInstance();
    });
    PLogInit();
    platform::DispatchQueue::main()->asyncAfter(uploadRestartDelay, [] { PUploadsRestart::run(); });
}

void PSystem::resetCurrentState(const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    ++resets;
    PInternalStateHost::getInstance().setDeviceToken(std::nullopt);
}

void PSystem::setAppID(const std::optional<std::string>& appID, const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    PInternalStateHost::getInstance().setAppID(appID);
}

std::optional<std::string> PSystem::appID(const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return std::nullopt;
    return PInternalStateHost::getInstance().appID();
}

void PSystem::registerAPNTokenString(const std::optional<std::string>& token,
                                     const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    PInternalStateHost::getInstance().setDeviceToken(token);
}

PServiceLocator& PSystem::serviceLocator() {
    static PServiceLocator* locator = new PServiceLocator;  // never destroyed
    return *locator;
}

PPreferences& PSystem::preferences() {
    static PPreferences* preferences = new PPreferences;  // never destroyed
    return *preferences;
}

void PSystem::registerAPNToken(const platform::Data& token) {
    std::string text;
    text.reserve(token.size() * 2);
    for (std::uint8_t byte : token) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    PInternalStateHost::getInstance().setDeviceToken(std::move(text));
}

std::optional<std::string> PSystem::registeredToken() {
    return PInternalStateHost::getInstance().deviceToken();
}

int PSystem::launchCount() {
    return launches.load();
}
int PSystem::resetCount() {
    return resets.load();
}

}  // namespace pindle::legacy
