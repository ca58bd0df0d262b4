#include "PindleCore/caches/LoadImageSubscription.hpp"

#include "PindleCore/caches/LoadImageOperation.hpp"

namespace pindle {

LoadImageSubscription::LoadImageSubscription(platform::URL url, Callback callback)
    : url_(std::move(url)), callback_(std::move(callback)) {}

std::shared_ptr<LoadImageOperation> LoadImageSubscription::operation() const {
    std::lock_guard lock(mutex_);
    return operation_;
}

void LoadImageSubscription::setOperation(std::shared_ptr<LoadImageOperation> operation) {
    std::lock_guard lock(mutex_);
    operation_ = std::move(operation);
}

void LoadImageSubscription::cancelIt() {
    cancelled_.store(true);
    if (auto serving = operation())
        serving->remove(shared_from_this());
}

void LoadImageSubscription::deliver(const platform::ImagePtr& image) {
    if (cancelled_.load() || delivered_.exchange(true))
        return;
    if (callback_)
        callback_(image);
}

}  // namespace pindle
