#include "tools/emulator/FaultGate.hpp"

namespace pindle::emulator {

void FaultGate::open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    changed_.notify_all();
}

bool FaultGate::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

std::size_t FaultGate::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

bool FaultGate::waitForArrivals(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return arrivals_ >= count; });
}

void FaultGate::arrive() {
    {
        std::lock_guard lock(mutex_);
        ++arrivals_;
    }
    changed_.notify_all();
}

}  // namespace pindle::emulator
