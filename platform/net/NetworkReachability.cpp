#include "platform/net/NetworkReachability.hpp"

#include <algorithm>
#include <utility>
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(
    const std::string& name, std::shared_ptr<NetworkReachabilitySource> source) {
    auto target = NetworkReachabilityTarget::hostName(name);
    if (!source || !source->canCreate(target)) {
        return nullptr;
    }
    return std::make_shared<NetworkReachability>(PrivateTag{}, std::move(target),
                                                 std::move(source));
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithAddress(
    const sockaddr* address, socklen_t length, std::shared_ptr<NetworkReachabilitySource> source) {
    auto target = NetworkReachabilityTarget::address(address, length);
    if (!target || !source || !source->canCreate(*target)) {
        return nullptr;
    }
    return std::make_shared<NetworkReachability>(PrivateTag{}, std::move(*target),
                                                 std::move(source));
}

NetworkReachability::NetworkReachability(PrivateTag, NetworkReachabilityTarget target,
                                         std::shared_ptr<NetworkReachabilitySource> source)
    : target_(std::move(target)), source_(std::move(source)) {}

NetworkReachability::~NetworkReachability() {
    // Deliveries hold a strong reference while they run, so none can be running here.
    if (watch_) {
        source_->unwatch(*watch_);
    }
}

bool NetworkReachability::setCallback(Callback callback, Context context) {
    if (callback && !source_->acceptsCallback(target_)) {
        return false;
    }
    Callback previous;
    Context previousContext;
    {
        std::unique_lock lock(mutex_);
        previous = std::exchange(callback_, std::move(callback));
        previousContext = std::exchange(context_, std::move(context));
        if (!callback_) {
            waitForRunningCallbacks(lock);
        }
    }
    // `previous` may own the last reference to something whose destructor calls back into
    // us; it is released here, after the lock.
    return true;
}

bool NetworkReachability::setDispatchQueue(std::shared_ptr<Executor> queue) {
    if (queue && !source_->acceptsDispatchQueue(target_)) {
        return false;
    }
    std::optional<NetworkReachabilitySource::WatchId> oldWatch;
    std::shared_ptr<Executor> oldQueue;
    std::uint64_t attachment = 0;
    {
        std::unique_lock lock(mutex_);
        oldWatch = std::exchange(watch_, std::nullopt);
        oldQueue = std::exchange(queue_, queue);
        attachment = ++attachment_;
        if (!queue) {
            waitForRunningCallbacks(lock);
        }
    }
    if (oldWatch) {
        source_->unwatch(*oldWatch);
    }
    if (!queue) {
        return true;
    }
    std::weak_ptr<NetworkReachability> weakSelf = weak_from_this();
    auto id =
        source_->watch(target_, [weakSelf, queue, attachment](NetworkReachabilityFlags flags) {
            queue->async(weakly(weakSelf, [attachment, flags](NetworkReachability& self) {
                self.deliver(attachment, flags);
            }));
        });
    bool stale = false;
    {
        std::scoped_lock lock(mutex_);
        if (attachment_ == attachment) {
            watch_ = id;
        } else {
            stale = true;  // another thread changed the queue meanwhile
        }
    }
    if (stale) {
        source_->unwatch(id);
    }
    return true;
}

std::optional<NetworkReachabilityFlags> NetworkReachability::flags() const {
    return source_->flags(target_);
}

void NetworkReachability::deliver(std::uint64_t attachment, NetworkReachabilityFlags flags) {
    Callback callback;
    Context context;
    const auto me = std::this_thread::get_id();
    {
        std::scoped_lock lock(mutex_);
        if (attachment != attachment_ || !callback_) {
            return;
        }
        callback = callback_;
        context = context_;
        callbacksRunningOn_.push_back(me);
    }
    callback(*this, flags, context);
    // The callback's copies may hold the last reference to the context's owner; drop them
    // before announcing that the callback has finished.
    callback = nullptr;
    context = {};
    {
        std::scoped_lock lock(mutex_);
        callbacksRunningOn_.erase(
            std::find(callbacksRunningOn_.begin(), callbacksRunningOn_.end(), me));
    }
    callbackFinished_.notify_all();
}

void NetworkReachability::waitForRunningCallbacks(std::unique_lock<std::mutex>& lock) {
    const auto me = std::this_thread::get_id();
    callbackFinished_.wait(lock, [&] {
        return std::all_of(callbacksRunningOn_.begin(), callbacksRunningOn_.end(),
                           [&](const std::thread::id& id) { return id == me; });
    });
}

}  // namespace pindle::platform
