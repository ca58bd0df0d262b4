// SystemLog: the process's system log: an in-process store of log records that clients send
// and readers search, with a change notification, standing in for the platform's log daemon.
//
// Keeping the records in the process is what lets the system-log logger and the capture
// loop run (and be tested) where no log daemon is reachable.
//
// A record gets an increasing identifier ("ASLMessageID", from 1), its time in seconds and
// nanoseconds since 1970 on the process clock ("Time", "TimeNanoSec"), the process id
// ("PID"), the sender and facility. The store keeps the newest `capacity` records.
//
// Each record sent also goes to the host's log daemon through a SyslogSocket (the process's
// "/dev/log" connection unless the constructor names another), with its level as priority.
//
// After each send the notification `messageNotification` goes to every handler registered
// for it; a handler runs on the executor it was registered with, and is handed its own
// registration token so that it can cancel itself.
//
// Thread-safety: all operations are safe from any thread. No handler is called under the
// store's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Executor.hpp"
#include "platform/log/SyslogSocket.hpp"
#include "platform/log/SystemLogMessage.hpp"
#include "platform/log/SystemLogQuery.hpp"

namespace pindle::platform {

class SystemLog {
  public:
    static constexpr const char* messageNotification = "com.apple.system.logger.message";
    static constexpr std::size_t defaultCapacity = 10000;
    // Level of a record that carries none, or one that is not a number.
    static constexpr int defaultLevel = 5;

    using NotificationHandler = std::function<void(int token)>;

    // The process's system log (created on first use, never destroyed).
    static SystemLog& shared();

    explicit SystemLog(std::size_t capacity = defaultCapacity);
    SystemLog(std::size_t capacity, SyslogSocket& daemon);
    SystemLog(const SystemLog&) = delete;
    SystemLog& operator=(const SystemLog&) = delete;

    // Keeps a copy of `message` completed with identifier, time, process id, sender and
    // facility, forwards it to the log daemon, then posts `messageNotification`. Returns the new
    // record's identifier.
    std::uint64_t send(SystemLogMessage message, const std::string& sender,
                       const std::string& facility);

    // The kept records that meet every condition of `query`, oldest first.
    std::vector<SystemLogMessage> search(const SystemLogQuery& query) const;

    // Calls `handler` on `queue` each time `name` is posted, until the registration is
    // cancelled. Returns the registration's token (positive).
    // REQUIRES: queue and handler are set.
    int registerNotification(const std::string& name, std::shared_ptr<Executor> queue,
                             NotificationHandler handler);
    // A handler already handed to its queue does not run once its registration is cancelled.
    void cancelNotification(int token);
    bool isRegistered(int token) const;
    // How many registrations `name` has.
    std::size_t registrationCount(const std::string& name) const;
    void postNotification(const std::string& name);

    void setForwardsToSyslog(bool forwards);

  private:
    struct Registration {
        std::string name;
        std::shared_ptr<Executor> queue;
        NotificationHandler handler;
        // Cleared on cancellation, so a handler already handed to its queue is skipped
        // without reaching back into the log.
        std::shared_ptr<std::atomic<bool>> active;
    };

    const std::size_t capacity_;
    SyslogSocket& daemon_;

    mutable std::mutex mutex_;
    std::deque<SystemLogMessage> records_;       // guarded by mutex_
    std::uint64_t lastIdentifier_ = 0;           // guarded by mutex_
    std::map<int, Registration> registrations_;  // guarded by mutex_
    int lastToken_ = 0;                          // guarded by mutex_
    bool forwardsToSyslog_ = true;               // guarded by mutex_
};

}  // namespace pindle::platform
