#include "tools/emulator/RequestLog.hpp"

namespace pindle::emulator {

void RequestLog::append(Request request) {
    {
        std::scoped_lock lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

void RequestLog::clear() {
    std::scoped_lock lock(mutex_);
    requests_.clear();
}

std::vector<Request> RequestLog::requests() const {
    std::scoped_lock lock(mutex_);
    return requests_;
}

std::size_t RequestLog::count() const {
    std::scoped_lock lock(mutex_);
    return requests_.size();
}

std::vector<Request> RequestLog::requestsFor(const std::string& method,
                                             const std::string& path) const {
    std::vector<Request> found;
    std::scoped_lock lock(mutex_);
    for (const auto& request : requests_) {
        if (request.method == method && request.path() == path) {
            found.push_back(request);
        }
    }
    return found;
}

bool RequestLog::waitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

}  // namespace pindle::emulator
