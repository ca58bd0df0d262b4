#include "platform/dispatch/DispatchGroup.hpp"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/dispatch/private/WaitList.hpp"

namespace pindle::platform {

std::shared_ptr<DispatchGroup> DispatchGroup::create() {
    return std::make_shared<DispatchGroup>();
}

DispatchGroup::DispatchGroup() : waiters_(std::make_shared<detail::WaitList>()) {}

DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
    std::unique_lock lock(waiters_->mutex());
    ++count_;
}

void DispatchGroup::leave() {
    std::vector<Notification> due;
    {
        std::unique_lock lock(waiters_->mutex());
        if (count_ == 0) {
            std::fprintf(stderr, "DispatchGroup::leave without a matching enter\n");
            std::abort();
        }
        if (--count_ > 0) {
            return;
        }
        due.swap(notifications_);
        waiters_->releaseAll(lock);
    }
    for (auto& [executor, work] : due) {
        executor->async(std::move(work));
    }
}

void DispatchGroup::notify(std::shared_ptr<Executor> executor, std::function<void()> work) {
    {
        std::unique_lock lock(waiters_->mutex());
        if (count_ > 0) {
            notifications_.emplace_back(std::move(executor), std::move(work));
            return;
        }
    }
    executor->async(std::move(work));
}

void DispatchGroup::wait() {
    wait(DispatchTime::distantFuture());
}

bool DispatchGroup::wait(DispatchTime deadline) {
    std::unique_lock lock(waiters_->mutex());
    if (count_ == 0) {
        return true;
    }
    return waiters_->wait(lock, deadline);
}

}  // namespace pindle::platform
