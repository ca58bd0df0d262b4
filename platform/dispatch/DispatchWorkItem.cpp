#include "platform/dispatch/DispatchWorkItem.hpp"

namespace pindle::platform {

std::shared_ptr<DispatchWorkItem> DispatchWorkItem::create(std::function<void()> block) {
    return std::make_shared<DispatchWorkItem>(std::move(block));
}

DispatchWorkItem::DispatchWorkItem(std::function<void()> block) : block_(std::move(block)) {}

void DispatchWorkItem::perform() {
    if (!isCancelled() && block_) {
        block_();
    }
}

void DispatchWorkItem::cancel() {
    cancelled_.store(true);
}

bool DispatchWorkItem::isCancelled() const {
    return cancelled_.load();
}

}  // namespace pindle::platform
