// FileWatcher: tells its owner when a watched file is deleted or renamed.
//
// Built on inotify, with one thread per watcher that sleeps until the kernel reports
// something. Deletion is reported when the file loses its last link, even while descriptors
// to it are still open (Linux itself would report that only at the last close): the watcher
// holds a path-only descriptor to the file and checks its link count whenever the kernel
// says the file's metadata changed. "Renamed" means the file was moved, within or out of its
// folder; a file replaced by another renamed over it is "deleted". Each event is reported at
// most once per change; "deleted" at most once per watcher.
//
// Lifetime: destroying the watcher (or calling cancel()) stops its thread. Once that returns
// no handler is running and none will run, so the handler may safely use its owner; a
// handler that is running on the destroying thread itself is the one exception (it finishes).
//
// Thread-safety: cancel() and the destructor may be called from any thread, including from
// inside the handler. The handler runs on the Executor given at creation, never on the
// watcher's own thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Executor.hpp"

namespace pindle::platform {

class FileWatcher {
  public:
    enum class Event { deleted, renamed };
    using Handler = std::function<void(Event)>;

    // Watches the file at `path` (following a final symbolic link). nullptr (and `error`,
    // when asked for) when the file cannot be watched. REQUIRES: executor and handler set.
    static std::unique_ptr<FileWatcher> watch(const std::string& path,
                                              std::shared_ptr<Executor> executor, Handler handler,
                                              Error* error = nullptr);

    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    const std::string& path() const { return path_; }

    // Stops watching; see the lifetime note above. Idempotent.
    void cancel();

  private:
    struct Delivery;

    struct Private {
        explicit Private() = default;
    };

  public:
    FileWatcher(Private, std::string path, int inotifyFd, int fileFd, int wakeFd,
                std::shared_ptr<Executor> executor, Handler handler);

  private:
    void run();
    void deliver(Event event);

    const std::string path_;
    const int inotifyFd_;
    const int fileFd_;  // O_PATH descriptor for the link count
    const int wakeFd_;  // eventfd that ends the thread
    const std::shared_ptr<Executor> executor_;
    const std::shared_ptr<Delivery> delivery_;
    bool reportedDeletion_ = false;  // used by the watcher thread only
    std::mutex threadMutex_;         // one cancel at a time ends the thread
    std::thread thread_;             // guarded by threadMutex_ once started
};

}  // namespace pindle::platform
