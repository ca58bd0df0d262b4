#include "PindleCore/model/PNSessionIdentity.hpp"

#include <mutex>

namespace pindle {

namespace {
std::mutex providerMutex;
std::function<std::optional<std::string>()> provider;  // guarded by providerMutex
}  // namespace

std::optional<std::string> currentSessionAppID() {
    std::function<std::optional<std::string>()> current;
    {
        std::lock_guard lock(providerMutex);
        current = provider;
    }
    return current ? current() : std::nullopt;
}

void setSessionAppIDProvider(std::function<std::optional<std::string>()> newProvider) {
    std::lock_guard lock(providerMutex);
    provider = std::move(newProvider);
}

}  // namespace pindle
