#include "PindleCore/caches/PNThroughputManagerChannel.hpp"

#include "platform/foundation/UUID.hpp"

namespace pindle {

PNThroughputManagerChannel::PNThroughputManagerChannel(Observer block)
    : uid_(platform::UUID::random().uuidString()),
      observer_(std::make_shared<const Observer>(std::move(block))) {}

bool PNThroughputManagerChannel::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void PNThroughputManagerChannel::put(double bandwidth) {
    std::shared_ptr<const Observer> observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (*observer)
        (*observer)(bandwidth);
}

void PNThroughputManagerChannel::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    observer_ = std::make_shared<const Observer>([](double) {});
}

}  // namespace pindle
