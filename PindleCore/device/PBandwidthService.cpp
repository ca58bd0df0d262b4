#include "PindleCore/device/PBandwidthService.hpp"

namespace pindle::legacy {

const char* const kPCurrentBandwidthModeIsChangedNotification =
    "kPCurrentBandwidthModeIsChangedNotification";

PBandwidthService& PBandwidthService::getInstance() {
    static PBandwidthService* service =  // never destroyed: its notifier runs for the process
        new PBandwidthService(Reachability::reachabilityForInternetConnection());
    return *service;
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
