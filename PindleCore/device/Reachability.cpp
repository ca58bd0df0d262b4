#include "PindleCore/device/Reachability.hpp"

#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "platform/foundation/NotificationCenter.hpp"

namespace pindle::legacy {

const char* const kReachabilityChangedNotification = "kReachabilityChangedNotification";

namespace {

namespace Flag = platform::NetworkReachabilityFlag;

constexpr const char* serialQueueLabel = "com.harwick.reachability";

std::shared_ptr<Reachability> wrap(std::shared_ptr<platform::NetworkReachability> reference) {
    return reference ? std::make_shared<Reachability>(std::move(reference)) : nullptr;
}

std::shared_ptr<Reachability> forIPv4(std::uint32_t hostOrderAddress) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&address),
                                                 sizeof address);
}

bool has(platform::NetworkReachabilityFlags flags, platform::NetworkReachabilityFlags flag) {
    return (flags & flag) != 0;
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname) {
    return wrap(platform::NetworkReachability::createWithName(hostname));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* address,
                                                                    socklen_t length) {
    return wrap(platform::NetworkReachability::createWithAddress(address, length));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    return forIPv4(0);
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    return forIPv4(0xA9FE0000);  // 169.254.0.0
}

Reachability::Reachability(std::shared_ptr<platform::NetworkReachability> reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)) {}

Reachability::~Reachability() {
    reachabilityRef_->setCallback({});
    reachabilityRef_->setDispatchQueue(nullptr);
}

bool Reachability::reachableOnWWAN() const {
    std::lock_guard lock(mutex_);
    return reachableOnWWAN_;
}

void Reachability::setReachableOnWWAN(bool value) {
    std::lock_guard lock(mutex_);
    reachableOnWWAN_ = value;
}

void Reachability::setReachableBlock(Block block) {
    std::lock_guard lock(mutex_);
    reachableBlock_ = std::move(block);
}

void Reachability::setUnreachableBlock(Block block) {
    std::lock_guard lock(mutex_);
    unreachableBlock_ = std::move(block);
}

bool Reachability::startNotifier() {
    auto self = std::static_pointer_cast<Reachability>(shared_from_this());
    auto queue = platform::DispatchQueue::create(serialQueueLabel);
    {
        std::lock_guard lock(mutex_);
        reachabilityObject_ = self;
        serialQueue_ = queue;
    }
    bool started = reachabilityRef_->setCallback(
        [](platform::NetworkReachability&, platform::NetworkReachabilityFlags flags,
           const platform::NetworkReachability::Context& context) {
            if (auto monitor = std::static_pointer_cast<Reachability>(context.info.lock())) {
                monitor->reachabilityChanged(flags);
            }
        },
        {self});
    if (started && !reachabilityRef_->setDispatchQueue(queue)) {
        reachabilityRef_->setCallback({});
        started = false;
    }
    if (!started) {
        std::lock_guard lock(mutex_);
        serialQueue_.reset();
        reachabilityObject_.reset();
    }
    return started;
}

void Reachability::stopNotifier() {
    reachabilityRef_->setCallback({});
    reachabilityRef_->setDispatchQueue(nullptr);
    std::shared_ptr<Reachability> keptAlive;
    {
        std::lock_guard lock(mutex_);
        serialQueue_.reset();
        keptAlive = std::move(reachabilityObject_);
    }
}

bool Reachability::isReachableWithFlags(platform::NetworkReachabilityFlags flags) const {
    if (!has(flags, Flag::reachable))
        return false;
    if (has(flags, Flag::connectionRequired) && has(flags, Flag::transientConnection))
        return false;
    if (has(flags, Flag::isWWAN) && !reachableOnWWAN())
        return false;
    return true;
}

platform::NetworkReachabilityFlags Reachability::reachabilityFlags() const {
    return reachabilityRef_->flags().value_or(0);
}

bool Reachability::isReachable() const {
    return isReachableWithFlags(reachabilityFlags());
}

bool Reachability::isReachableViaWWAN() const {
    const auto flags = reachabilityFlags();
    return has(flags, Flag::reachable) && has(flags, Flag::isWWAN);
}

bool Reachability::isReachableViaWiFi() const {
    const auto flags = reachabilityFlags();
    return has(flags, Flag::reachable) && !has(flags, Flag::isWWAN);
}

bool Reachability::isConnectionRequired() const {
    return has(reachabilityFlags(), Flag::connectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
    const auto flags = reachabilityFlags();
    return has(flags, Flag::connectionRequired) &&
           (has(flags, Flag::connectionOnTraffic) || has(flags, Flag::connectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
    const auto flags = reachabilityFlags();
    return has(flags, Flag::connectionRequired) && has(flags, Flag::interventionRequired);
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    if (!isReachable())
        return NetworkStatus::NotReachable;
    return isReachableViaWiFi() ? NetworkStatus::ReachableViaWiFi : NetworkStatus::ReachableViaWWAN;
}

std::string Reachability::currentReachabilityString() const {
    switch (currentReachabilityStatus()) {
        case NetworkStatus::ReachableViaWWAN:
            return "Cellular";
        case NetworkStatus::ReachableViaWiFi:
            return "WiFi";
        case NetworkStatus::NotReachable:
            break;
    }
    return "No Connection";
}

std::string Reachability::currentReachabilityFlags() const {
    const auto flags = reachabilityFlags();
    auto letter = [&](platform::NetworkReachabilityFlags flag, char c) {
        return has(flags, flag) ? c : '-';
    };
    std::string text;
    text += letter(Flag::isWWAN, 'W');
    text += letter(Flag::reachable, 'R');
    text += ' ';
    text += letter(Flag::connectionRequired, 'c');
    text += letter(Flag::transientConnection, 't');
    text += letter(Flag::interventionRequired, 'i');
    text += letter(Flag::connectionOnTraffic, 'C');
    text += letter(Flag::connectionOnDemand, 'D');
    text += letter(Flag::isLocalAddress, 'l');
    text += letter(Flag::isDirect, 'd');
    return text;
}

std::string Reachability::description() const {
    char text[64];
    std::snprintf(text, sizeof text, "<Reachability: %#lx>",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
    return text;
}

void Reachability::reachabilityChanged(platform::NetworkReachabilityFlags flags) {
    const bool reachable = isReachableWithFlags(flags);
    Block block;
    {
        std::lock_guard lock(mutex_);
        block = reachable ? reachableBlock_ : unreachableBlock_;
    }
    if (block)
        block(*this);
    auto self = std::static_pointer_cast<Reachability>(shared_from_this());
    platform::DispatchQueue::main()->async([self] {
        platform::NotificationCenter::defaultCenter().post(kReachabilityChangedNotification,
                                                           platform::Value(self));
    });
}

}  // namespace pindle::legacy
