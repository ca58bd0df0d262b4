#include "PindleCore/websocket/WSIOConsumer.hpp"

#include <cassert>

namespace pindle {

void WSIOConsumer::reset(Scanner scanner, Handler handler, std::size_t bytesNeeded,
                         bool readToCurrentFrame, bool unmaskBytes) {
    assert(scanner || bytesNeeded > 0);
    scanner_ = std::move(scanner);
    handler_ = std::move(handler);
    bytesNeeded_ = bytesNeeded;
    readToCurrentFrame_ = readToCurrentFrame;
    unmaskBytes_ = unmaskBytes;
}

}  // namespace pindle
