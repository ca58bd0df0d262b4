#include "PindleCore/api/Reachability.hpp"

#include <utility>

namespace pindle {

using platform::NetworkReachability;
using platform::NetworkReachabilityFlags;
namespace Flag = platform::NetworkReachabilityFlag;

namespace {

constexpr const char* errorDomain = "PindleCore.ReachabilityError";

// The default center is a never-destroyed singleton, so the pointer to it owns nothing.
std::shared_ptr<platform::NotificationCenter> defaultCenterPointer() {
    static auto* pointer = new std::shared_ptr<platform::NotificationCenter>(
        &platform::NotificationCenter::defaultCenter(), [](platform::NotificationCenter*) {});
    return *pointer;
}

bool has(NetworkReachabilityFlags flags, NetworkReachabilityFlags bits) {
    return (flags & bits) == bits;
}

bool isReachable(NetworkReachabilityFlags flags, bool reachableOnWWAN) {
    if (!has(flags, Flag::reachable)) {
        return false;
    }
    if (has(flags, Flag::connectionRequired | Flag::transientConnection)) {
        return false;
    }
    if (has(flags, Flag::isWWAN) && !reachableOnWWAN) {
        return false;
    }
    return true;
}

bool isReachableViaWiFi(NetworkReachabilityFlags flags) {
    return has(flags, Flag::reachable) && !has(flags, Flag::isWWAN);
}

bool isReachableViaWWAN(NetworkReachabilityFlags flags) {
    return has(flags, Flag::reachable) && has(flags, Flag::isWWAN);
}

Reachability::NetworkStatus status(NetworkReachabilityFlags flags, bool reachableOnWWAN) {
    if (!isReachable(flags, reachableOnWWAN)) {
        return Reachability::NetworkStatus::notReachable;
    }
    if (isReachableViaWiFi(flags)) {
        return Reachability::NetworkStatus::reachableViaWiFi;
    }
    return Reachability::NetworkStatus::reachableViaWWAN;
}

}  // namespace

// ReachabilityError

ReachabilityError ReachabilityError::failedToCreateWithAddress(const sockaddr_in& address) {
    ReachabilityError error(Case::FailedToCreateWithAddress);
    error.address_ = address;
    return error;
}

ReachabilityError ReachabilityError::failedToCreateWithHostname(std::string hostname) {
    ReachabilityError error(Case::FailedToCreateWithHostname);
    error.hostname_ = std::move(hostname);
    return error;
}

ReachabilityError ReachabilityError::unableToSetCallback() {
    return ReachabilityError(Case::UnableToSetCallback);
}

ReachabilityError ReachabilityError::unableToSetDispatchQueue() {
    return ReachabilityError(Case::UnableToSetDispatchQueue);
}

const char* ReachabilityError::what() const noexcept {
    switch (case_) {
        case Case::FailedToCreateWithAddress:
            return "FailedToCreateWithAddress";
        case Case::FailedToCreateWithHostname:
            return "FailedToCreateWithHostname";
        case Case::UnableToSetCallback:
            return "UnableToSetCallback";
        case Case::UnableToSetDispatchQueue:
            return "UnableToSetDispatchQueue";
    }
    return "ReachabilityError";
}

platform::Error ReachabilityError::asError() const {
    return platform::Error(errorDomain, static_cast<std::int64_t>(case_));
}

// Reachability

std::shared_ptr<Reachability> Reachability::make(
    std::shared_ptr<NetworkReachability> reachabilityRef) {
    return std::make_shared<Reachability>(PrivateTag{}, std::move(reachabilityRef));
}

std::shared_ptr<Reachability> Reachability::make(const std::string& hostname) {
    auto reference = NetworkReachability::createWithName(hostname);
    if (!reference) {
        return nullptr;
    }
    return make(std::move(reference));
}

std::shared_ptr<Reachability> Reachability::make() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    auto reference = NetworkReachability::createWithAddress(
        reinterpret_cast<const sockaddr*>(&zeroAddress), sizeof(zeroAddress));
    if (!reference) {
        return nullptr;
    }
    return make(std::move(reference));
}

Reachability::Reachability(PrivateTag, std::shared_ptr<NetworkReachability> reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)),
      reachabilitySerialQueue_(platform::DispatchQueue::create(kSerialQueueLabel)),
      notificationCenter_(defaultCenterPointer()) {}

Reachability::~Reachability() {
    stopNotifier();
}

Reachability::Callback Reachability::whenReachable() const {
    std::scoped_lock lock(mutex_);
    return whenReachable_;
}

void Reachability::setWhenReachable(Callback callback) {
    std::scoped_lock lock(mutex_);
    std::swap(whenReachable_, callback);
}

Reachability::Callback Reachability::whenUnreachable() const {
    std::scoped_lock lock(mutex_);
    return whenUnreachable_;
}

void Reachability::setWhenUnreachable(Callback callback) {
    std::scoped_lock lock(mutex_);
    std::swap(whenUnreachable_, callback);
}

bool Reachability::reachableOnWWAN() const {
    std::scoped_lock lock(mutex_);
    return reachableOnWWAN_;
}

void Reachability::setReachableOnWWAN(bool reachableOnWWAN) {
    std::scoped_lock lock(mutex_);
    reachableOnWWAN_ = reachableOnWWAN;
}

std::shared_ptr<platform::NotificationCenter> Reachability::notificationCenter() const {
    std::scoped_lock lock(mutex_);
    return notificationCenter_;
}

void Reachability::setNotificationCenter(std::shared_ptr<platform::NotificationCenter> center) {
    std::scoped_lock lock(mutex_);
    std::swap(notificationCenter_, center);
}

void Reachability::startNotifier() {
    std::scoped_lock notifierLock(notifierMutex_);
    {
        std::scoped_lock lock(mutex_);
        if (!reachabilityRef_ || notifierRunning_) {
            return;
        }
    }
    auto self = std::static_pointer_cast<Reachability>(shared_from_this());
    // Held weakly: the platform must not keep the monitor alive.
    NetworkReachability::Context context{std::weak_ptr<Reachability>(self)};
    if (!reachabilityRef_->setCallback(&Reachability::callback, context)) {
        stopNotifierHoldingNotifierMutex();
        throw ReachabilityError::unableToSetCallback();
    }
    if (!reachabilityRef_->setDispatchQueue(reachabilitySerialQueue_)) {
        stopNotifierHoldingNotifierMutex();
        throw ReachabilityError::unableToSetDispatchQueue();
    }
    reachabilitySerialQueue_->async([self] { self->reachabilityChanged(); });
    std::scoped_lock lock(mutex_);
    notifierRunning_ = true;
}

void Reachability::stopNotifier() {
    std::scoped_lock notifierLock(notifierMutex_);
    stopNotifierHoldingNotifierMutex();
}

void Reachability::stopNotifierHoldingNotifierMutex() {
    if (reachabilityRef_) {
        // Both wait for a platform callback running elsewhere to finish.
        reachabilityRef_->setCallback({});
        reachabilityRef_->setDispatchQueue(nullptr);
    }
    std::scoped_lock lock(mutex_);
    notifierRunning_ = false;
}

bool Reachability::isReachable() const {
    return pindle::isReachable(reachabilityFlags(), reachableOnWWAN());
}

bool Reachability::isReachableViaWiFi() const {
    return pindle::isReachableViaWiFi(reachabilityFlags());
}

bool Reachability::isReachableViaWWAN() const {
    return pindle::isReachableViaWWAN(reachabilityFlags());
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    return status(reachabilityFlags(), reachableOnWWAN());
}

std::string Reachability::currentReachabilityString() const {
    return pindle::description(currentReachabilityStatus());
}

std::string Reachability::description() const {
    // One read for the whole text, so it describes one consistent flag set.
    const auto flags = reachabilityFlags();
    const auto mark = [flags](NetworkReachabilityFlags bit, char set) {
        return has(flags, bit) ? set : '-';
    };
    return {mark(Flag::isWWAN, 'W'),
            mark(Flag::reachable, 'R'),
            ' ',
            mark(Flag::connectionRequired, 'c'),
            mark(Flag::transientConnection, 't'),
            mark(Flag::interventionRequired, 'i'),
            mark(Flag::connectionOnTraffic, 'C'),
            mark(Flag::connectionOnDemand, 'D'),
            mark(Flag::isLocalAddress, 'l'),
            mark(Flag::isDirect, 'd')};
}

NetworkReachabilityFlags Reachability::reachabilityFlags() const {
    if (!reachabilityRef_) {
        return 0;
    }
    return reachabilityRef_->flags().value_or(0);
}

void Reachability::reachabilityChanged() {
    const auto flags = reachabilityFlags();
    Callback chosen;
    std::shared_ptr<platform::NotificationCenter> center;
    {
        std::scoped_lock lock(mutex_);
        if (previousFlags_ == flags) {
            return;
        }
        // Recorded before calling out, so two evaluations racing (the start's on the serial
        // queue and a change's on the main queue) cannot both report the same flags.
        previousFlags_ = flags;
        chosen = pindle::isReachable(flags, reachableOnWWAN_) ? whenReachable_ : whenUnreachable_;
        center = notificationCenter_;
    }
    if (chosen) {
        chosen(*this);
    }
    center->post(ReachabilityChangedNotification, shared_from_this());
}

void Reachability::callback(NetworkReachability&, NetworkReachabilityFlags,
                            const NetworkReachability::Context& context) {
    auto monitor = std::static_pointer_cast<Reachability>(context.info.lock());
    if (!monitor) {
        return;
    }
    platform::DispatchQueue::main()->async([monitor] { monitor->reachabilityChanged(); });
}

std::string description(Reachability::NetworkStatus status) {
    switch (status) {
        case Reachability::NetworkStatus::notReachable:
            return "No Connection";
        case Reachability::NetworkStatus::reachableViaWiFi:
            return "WiFi";
        case Reachability::NetworkStatus::reachableViaWWAN:
            return "Cellular";
    }
    return "No Connection";
}

}  // namespace pindle
