#include "PindleCore/caches/PNURLAssetCache.hpp"

#include <charconv>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Date.hpp"
#include "platform/foundation/StandardOutput.hpp"

namespace pindle {

namespace {

struct Store {
    std::mutex mutex;
    std::vector<platform::AssetPtr> assets;  // guarded by mutex
};

Store& store() {
    static auto* shared = new Store;
    return *shared;
}

// A double the way the platform prints one: shortest round-trip digits, and a ".0" on
// whole numbers.
std::string text(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string written(buffer, error == std::errc() ? end : buffer);
    if (std::isfinite(value) && written.find_first_of(".e") == std::string::npos)
        written += ".0";
    return written;
}

}  // namespace

void PNURLAssetCache::put(platform::AssetPtr asset) {
    std::vector<platform::AssetPtr> released;
    auto& shared = store();
    {
        std::lock_guard lock(shared.mutex);
        if (shared.assets.size() >= flushThreshold) {
            const double start = platform::Date::now().timeIntervalSince1970();
            released.swap(shared.assets);
            const double took = platform::Date::now().timeIntervalSince1970() - start;
            platform::StandardOutput::writeLine("flush assets " + text(took));
        }
        shared.assets.push_back(std::move(asset));
    }
}

std::size_t PNURLAssetCache::count() {
    auto& shared = store();
    std::lock_guard lock(shared.mutex);
    return shared.assets.size();
}

}  // namespace pindle
