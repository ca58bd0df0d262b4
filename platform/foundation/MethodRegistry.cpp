#include "platform/foundation/MethodRegistry.hpp"

namespace pindle::platform {

MethodRegistry& MethodRegistry::shared() {
    static auto* registry = new MethodRegistry;
    return *registry;
}

void MethodRegistry::registerSlot(const std::string& className, const std::string& selector,
                                  std::any implementation) {
    std::lock_guard lock(mutex_);
    slots_[Key{className, selector}] = std::move(implementation);
}

bool MethodRegistry::hasSlot(const std::string& className, const std::string& selector) const {
    std::lock_guard lock(mutex_);
    return slots_.contains(Key{className, selector});
}

std::any MethodRegistry::lookup(const std::string& className, const std::string& selector) const {
    std::lock_guard lock(mutex_);
    const auto found = slots_.find(Key{className, selector});
    return found == slots_.end() ? std::any() : found->second;
}

bool MethodRegistry::exchange(const std::string& classA, const std::string& selectorA,
                              const std::string& classB, const std::string& selectorB) {
    std::lock_guard lock(mutex_);
    const auto a = slots_.find(Key{classA, selectorA});
    const auto b = slots_.find(Key{classB, selectorB});
    if (a == slots_.end() || b == slots_.end())
        return false;
    std::swap(a->second, b->second);
    return true;
}

}  // namespace pindle::platform
