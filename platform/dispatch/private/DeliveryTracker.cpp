#include "platform/dispatch/private/DeliveryTracker.hpp"

#include <utility>

namespace pindle::platform::detail {

namespace {

thread_local std::shared_ptr<DeliveryTracker> currentTracker;

// Counts one tracked block until it has run, or until its last copy is destroyed unrun
// (a cancelled operation, a queue torn down), so a dropped block never stalls advance().
class Ticket {
  public:
    Ticket(std::shared_ptr<DeliveryTracker> tracker, std::function<void()> end)
        : tracker_(std::move(tracker)), end_(std::move(end)) {}
    ~Ticket() { finish(); }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;

    const std::shared_ptr<DeliveryTracker>& tracker() const { return tracker_; }
    void finish() {
        std::function<void()> end;
        {
            std::lock_guard lock(mutex_);
            end = std::exchange(end_, nullptr);
        }
        if (end) {
            end();
        }
    }

  private:
    std::shared_ptr<DeliveryTracker> tracker_;
    std::mutex mutex_;
    std::function<void()> end_;  // guarded by mutex_
};

}  // namespace

std::shared_ptr<DeliveryTracker> DeliveryTracker::current() {
    return currentTracker;
}

std::function<void()> DeliveryTracker::track(std::function<void()> work) {
    auto tracker = currentTracker;
    if (!tracker) {
        return work;
    }
    tracker->begin();
    auto ticket = std::make_shared<Ticket>(tracker, [tracker] { tracker->end(); });
    return [ticket, work = std::move(work)] {
        {
            Scope scope(ticket->tracker());
            work();
        }
        ticket->finish();
    };
}

DeliveryTracker::Scope::Scope(std::shared_ptr<DeliveryTracker> tracker)
    : previous_(std::exchange(currentTracker, std::move(tracker))) {}

DeliveryTracker::Scope::~Scope() {
    currentTracker = std::move(previous_);
}

void DeliveryTracker::begin() {
    std::lock_guard lock(mutex_);
    ++busy_;
}

void DeliveryTracker::end() {
    {
        std::lock_guard lock(mutex_);
        --busy_;
    }
    changed_.notify_all();
}

void DeliveryTracker::park() {
    end();
}

void DeliveryTracker::unpark() {
    begin();
}

bool DeliveryTracker::isSettled() const {
    std::lock_guard lock(mutex_);
    return busy_ <= 0;
}

bool DeliveryTracker::waitUntilSettled(std::chrono::steady_clock::duration limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return busy_ <= 0; });
}

}  // namespace pindle::platform::detail
