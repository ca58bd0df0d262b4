#include "PindleCore/device/PBandwidthService.hpp"

#include <mutex>
#include <vector>

namespace pindle::legacy {

const char* const kPCurrentBandwidthModeIsChangedNotification =
    "kPCurrentBandwidthModeIsChangedNotification";

namespace {

std::mutex instanceMutex;
// Every service ever installed stays alive: callers hold plain references to it.
std::vector<std::shared_ptr<PBandwidthService>>& installedServices() {  // guarded by instanceMutex
    static auto* services = new std::vector<std::shared_ptr<PBandwidthService>>();
    return *services;
}
PBandwidthService* current = nullptr;  // guarded by instanceMutex

}  // namespace

PBandwidthService& PBandwidthService::getInstance() {
    std::lock_guard lock(instanceMutex);
    if (!current) {
        installedServices().push_back(
            std::make_shared<PBandwidthService>(Reachability::reachabilityForInternetConnection()));
        current = installedServices().back().get();
    }
    return *current;
}

void PBandwidthService::setInstance(std::shared_ptr<PBandwidthService> service) {
    std::lock_guard lock(instanceMutex);
    current = service.get();
    if (service)
        installedServices().push_back(std::move(service));
}

PBandwidthService::PBandwidthService(std::shared_ptr<Reachability> reachability)
    : reachability_(std::move(reachability)) {
    if (reachability_)
        reachability_->startNotifier();
    registration_ = platform::NotificationCenter::ScopedRegistration(
        platform::NotificationCenter::defaultCenter().addObserverForName(
            kReachabilityChangedNotification, nullptr, nullptr,
            [this](const platform::Notification& n) { bandwidthIsChanged(n); }));
    offlineMode_.store(isOffline());
}

bool PBandwidthService::isOffline() const {
    return !reachability_ ||
           reachability_->currentReachabilityStatus() == NetworkStatus::NotReachable;
}

void PBandwidthService::bandwidthIsChanged(const platform::Notification&) {
    const bool offline = isOffline();
    if (offlineMode_.exchange(offline) == offline)
        return;
    platform::NotificationCenter::defaultCenter().post(kPCurrentBandwidthModeIsChangedNotification);
}

}  // namespace pindle::legacy
