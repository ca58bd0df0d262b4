#include "PindleCore/websocket/WSIOConsumerPool.hpp"

namespace pindle {

std::shared_ptr<WSIOConsumer> WSIOConsumerPool::consumer(WSIOConsumer::Scanner scanner,
                                                         WSIOConsumer::Handler handler,
                                                         std::size_t bytesNeeded,
                                                         bool readToCurrentFrame,
                                                         bool unmaskBytes) {
    std::shared_ptr<WSIOConsumer> result;
    if (free_.empty()) {
        result = std::make_shared<WSIOConsumer>();
    } else {
        result = std::move(free_.back());
        free_.pop_back();
    }
    result->reset(std::move(scanner), std::move(handler), bytesNeeded, readToCurrentFrame,
                  unmaskBytes);
    return result;
}

void WSIOConsumerPool::returnConsumer(std::shared_ptr<WSIOConsumer> consumer) {
    if (free_.size() >= capacity_)
        return;
    // Drop the blocks now: they may hold what the socket should let go.
    consumer->reset(nullptr, nullptr, 1, false, false);
    free_.push_back(std::move(consumer));
}

}  // namespace pindle
