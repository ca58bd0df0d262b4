#include "PindleCore/logging/LGLoggingContextSet.hpp"

namespace pindle {

void LGLoggingContextSet::addToSet(std::int64_t context) {
    std::scoped_lock lock(mutex_);
    set_.insert(static_cast<std::uint64_t>(context));
}

void LGLoggingContextSet::removeFromSet(std::int64_t context) {
    std::scoped_lock lock(mutex_);
    set_.erase(static_cast<std::uint64_t>(context));
}

std::vector<std::int64_t> LGLoggingContextSet::currentSet() const {
    std::scoped_lock lock(mutex_);
    std::vector<std::int64_t> contexts;
    for (std::uint64_t context : set_) {
        contexts.push_back(static_cast<std::int64_t>(context));
    }
    return contexts;
}

bool LGLoggingContextSet::isInSet(std::int64_t context) const {
    std::scoped_lock lock(mutex_);
    return set_.count(static_cast<std::uint64_t>(context)) != 0;
}

}  // namespace pindle
