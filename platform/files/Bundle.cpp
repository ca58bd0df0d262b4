#include "platform/files/Bundle.hpp"

#include <mutex>

#include "platform/files/ProcessInfo.hpp"

namespace pindle::platform {

namespace {

struct BundleState {
    std::mutex mutex;
    std::string identifier;  // guarded by mutex; empty: not set
    Dictionary info;         // guarded by mutex
};

BundleState& bundleState() {
    static auto* shared = new BundleState();  // never destroyed: see ARCHITECTURE
    return *shared;
}

}  // namespace

std::string Bundle::identifier() {
    {
        std::scoped_lock lock(bundleState().mutex);
        if (!bundleState().identifier.empty())
            return bundleState().identifier;
    }
    return ProcessInfo::processName();
}

bool Bundle::hasIdentifier() {
    std::scoped_lock lock(bundleState().mutex);
    return !bundleState().identifier.empty();
}

void Bundle::setIdentifier(std::string identifier) {
    std::scoped_lock lock(bundleState().mutex);
    bundleState().identifier = std::move(identifier);
}

std::optional<Value> Bundle::infoValue(const std::string& key) {
    if (key == identifierKey)
        return Value(identifier());
    std::scoped_lock lock(bundleState().mutex);
    const auto entry = bundleState().info.find(key);
    if (entry == bundleState().info.end())
        return std::nullopt;
    return entry->second;
}

void Bundle::setInfoDictionary(Dictionary info) {
    std::scoped_lock lock(bundleState().mutex);
    bundleState().info = std::move(info);
}

}  // namespace pindle::platform
