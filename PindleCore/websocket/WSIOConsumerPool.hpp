// WSIOConsumerPool: recycles a socket's read consumers instead of making one per read.
//
// Thread-safety: none; one pool belongs to one socket and is used on its work queue.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "PindleCore/websocket/WSIOConsumer.hpp"

namespace pindle {

class WSIOConsumerPool {
  public:
    static constexpr std::size_t defaultCapacity = 8;

    explicit WSIOConsumerPool(std::size_t capacity = defaultCapacity) : capacity_(capacity) {}
    WSIOConsumerPool(const WSIOConsumerPool&) = delete;
    WSIOConsumerPool& operator=(const WSIOConsumerPool&) = delete;

    std::shared_ptr<WSIOConsumer> consumer(WSIOConsumer::Scanner scanner,
                                           WSIOConsumer::Handler handler, std::size_t bytesNeeded,
                                           bool readToCurrentFrame, bool unmaskBytes);
    // Keeps `consumer` for reuse while fewer than the capacity are free.
    void returnConsumer(std::shared_ptr<WSIOConsumer> consumer);
    std::size_t freeCount() const { return free_.size(); }

  private:
    std::size_t capacity_;
    std::vector<std::shared_ptr<WSIOConsumer>> free_;
};

}  // namespace pindle
