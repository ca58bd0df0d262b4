#include "PindleCore/model/PNSessionFacts.hpp"

#include <mutex>

namespace pindle {

namespace {
std::mutex providerMutex;
std::function<PNSessionFacts()> provider;  // guarded by providerMutex
}  // namespace

PNSessionFacts currentSessionFacts() {
    std::function<PNSessionFacts()> current;
    {
        std::lock_guard lock(providerMutex);
        current = provider;
    }
    return current ? current() : PNSessionFacts{};
}

std::optional<std::string> currentSessionAppID() {
    return currentSessionFacts().appID;
}

void setSessionFactsProvider(std::function<PNSessionFacts()> newProvider) {
    std::lock_guard lock(providerMutex);
    provider = std::move(newProvider);
}

}  // namespace pindle
