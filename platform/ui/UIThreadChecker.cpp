#include "platform/ui/UIThreadChecker.hpp"

#include <atomic>
#include <mutex>

#include "platform/dispatch/MainThread.hpp"

namespace pindle::platform::ui {
namespace {

struct Counters {
    std::mutex mutex;
    std::size_t count = 0;           // guarded by mutex
    std::vector<std::string> sites;  // guarded by mutex
};

Counters& counters() {
    static Counters* instance = new Counters;
    return *instance;
}

}  // namespace

namespace {
std::atomic<std::uint64_t> allMutations{0};
}  // namespace

std::uint64_t UIThreadChecker::mutationCount() {
    return allMutations.load(std::memory_order_acquire);
}

void UIThreadChecker::recordMutation(const char* site) {
    allMutations.fetch_add(1, std::memory_order_acq_rel);
    if (MainThread::isMainThread())
        return;
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    ++c.count;
    if (c.sites.size() < keptSites)
        c.sites.emplace_back(site);
}

std::size_t UIThreadChecker::offMainMutations() {
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    return c.count;
}

std::vector<std::string> UIThreadChecker::firstSites() {
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    return c.sites;
}

void UIThreadChecker::reset() {
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    c.count = 0;
    c.sites.clear();
}

}  // namespace pindle::platform::ui
