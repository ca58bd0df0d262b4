#include "platform/location/LocationSource.hpp"

#include <mutex>

namespace pindle::platform {

namespace {

std::mutex sourceMutex;
std::shared_ptr<LocationSource>& sourceSlot() {  // guarded by sourceMutex
    static auto* slot = new std::shared_ptr<LocationSource>();
    return *slot;
}

}  // namespace

std::shared_ptr<LocationSource> LocationSource::current() {
    std::lock_guard lock(sourceMutex);
    if (!sourceSlot())
        sourceSlot() = std::make_shared<DisabledLocationSource>();
    return sourceSlot();
}

void LocationSource::setCurrent(std::shared_ptr<LocationSource> source) {
    std::lock_guard lock(sourceMutex);
    sourceSlot() = std::move(source);
}

}  // namespace pindle::platform
