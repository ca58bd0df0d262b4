// MethodRegistry: named replaceable implementations ("slots"), keyed by a class name and a
// selector name, that can be exchanged at run time.
//
// C++ has no run-time method table, so method exchange works only on the slots registered
// here: a class that lets its behaviour be replaced dispatches that behaviour through its
// slot (implementation(className, selector)). An exchange or a lookup that names an
// unregistered slot changes nothing and finds nothing. An implementation is type-erased; the
// caller that registers a slot and the one that calls through it agree on its signature.
//
// Thread-safety: all operations are safe from any thread; lookups and exchanges take the
// registry's mutex, calls through a slot run without it.
#pragma once

#include <any>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace pindle::platform {

class MethodRegistry {
  public:
    static MethodRegistry& shared();

    // Registers or replaces the slot's implementation (a std::function, usually).
    void registerSlot(const std::string& className, const std::string& selector,
                      std::any implementation);
    bool hasSlot(const std::string& className, const std::string& selector) const;
    // The slot's implementation as `F`; nothing when unregistered or of another type.
    template <class F>
    std::optional<F> implementation(const std::string& className,
                                    const std::string& selector) const {
        const std::any found = lookup(className, selector);
        if (const F* typed = std::any_cast<F>(&found))
            return *typed;
        return std::nullopt;
    }
    // Swaps the implementations of the two slots; false (and nothing changed) unless both
    // are registered.
    bool exchange(const std::string& classA, const std::string& selectorA,
                  const std::string& classB, const std::string& selectorB);

  private:
    using Key = std::pair<std::string, std::string>;
    std::any lookup(const std::string& className, const std::string& selector) const;

    mutable std::mutex mutex_;
    std::map<Key, std::any> slots_;  // guarded by mutex_
};

}  // namespace pindle::platform
