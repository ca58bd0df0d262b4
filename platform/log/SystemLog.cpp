#include "platform/log/SystemLog.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle::platform {

namespace {

constexpr double nanosecondsPerSecond = 1e9;

}  // namespace

SystemLog& SystemLog::shared() {
    static SystemLog* log = new SystemLog();
    return *log;
}

SystemLog::SystemLog(std::size_t capacity) : SystemLog(capacity, SyslogSocket::shared()) {}

SystemLog::SystemLog(std::size_t capacity, SyslogSocket& daemon)
    : capacity_(std::max<std::size_t>(capacity, 1)), daemon_(daemon) {}

std::uint64_t SystemLog::send(SystemLogMessage message, const std::string& sender,
                              const std::string& facility) {
    double now = Clock::current()->now().timeIntervalSince1970();
    double seconds = std::floor(now);
    auto nanoseconds = static_cast<std::int64_t>((now - seconds) * nanosecondsPerSecond);
    message.set(SystemLogMessage::keyTime, std::to_string(static_cast<std::int64_t>(seconds)));
    message.set(SystemLogMessage::keyTimeNanoSec, std::to_string(nanoseconds));
    message.set(SystemLogMessage::keyPID, std::to_string(::getpid()));
    message.set(SystemLogMessage::keySender, sender);
    message.set(SystemLogMessage::keyFacility, facility);

    int level = defaultLevel;
    if (auto text = message.get(SystemLogMessage::keyLevel)) {
        level = static_cast<int>(Text::int64Value(*text).value_or(defaultLevel));
    }
    std::string text = message.get(SystemLogMessage::keyMessage).value_or("");

    std::uint64_t identifier = 0;
    bool forwards = false;
    {
        std::scoped_lock lock(mutex_);
        identifier = ++lastIdentifier_;
        message.set(SystemLogMessage::keyMessageID, std::to_string(identifier));
        records_.push_back(std::move(message));
        while (records_.size() > capacity_) {
            records_.pop_front();
        }
        forwards = forwardsToSyslog_;
    }
    if (forwards) {
        daemon_.send(level, text);
    }
    postNotification(messageNotification);
    return identifier;
}

std::vector<SystemLogMessage> SystemLog::search(const SystemLogQuery& query) const {
    std::scoped_lock lock(mutex_);
    std::vector<SystemLogMessage> found;
    for (const auto& record : records_) {
        if (query.matches(record)) {
            found.push_back(record);
        }
    }
    return found;
}

int SystemLog::registerNotification(const std::string& name, std::shared_ptr<Executor> queue,
                                    NotificationHandler handler) {
    std::scoped_lock lock(mutex_);
    int token = ++lastToken_;
    registrations_.emplace(token, Registration{name, std::move(queue), std::move(handler),
                                               std::make_shared<std::atomic<bool>>(true)});
    return token;
}

void SystemLog::cancelNotification(int token) {
    std::scoped_lock lock(mutex_);
    auto found = registrations_.find(token);
    if (found != registrations_.end()) {
        found->second.active->store(false);
        registrations_.erase(found);
    }
}

bool SystemLog::isRegistered(int token) const {
    std::scoped_lock lock(mutex_);
    return registrations_.count(token) != 0;
}

std::size_t SystemLog::registrationCount(const std::string& name) const {
    std::scoped_lock lock(mutex_);
    std::size_t count = 0;
    for (const auto& [token, registration] : registrations_) {
        if (registration.name == name) {
            ++count;
        }
    }
    return count;
}

void SystemLog::postNotification(const std::string& name) {
    std::vector<std::pair<int, Registration>> matching;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& [token, registration] : registrations_) {
            if (registration.name == name) {
                matching.emplace_back(token, registration);
            }
        }
    }
    for (auto& [token, registration] : matching) {
        registration.queue->async(
            [token = token, handler = registration.handler, active = registration.active] {
                if (active->load()) {
                    handler(token);
                }
            });
    }
}

void SystemLog::setForwardsToSyslog(bool forwards) {
    std::scoped_lock lock(mutex_);
    forwardsToSyslog_ = forwards;
}

}  // namespace pindle::platform
