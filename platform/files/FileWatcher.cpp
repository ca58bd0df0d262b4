#include "platform/files/FileWatcher.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "platform/files/FileError.hpp"

namespace pindle::platform {

namespace {

constexpr std::uint32_t watchedEvents = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::size_t eventBufferSize = 4096;

}  // namespace

// What the handler closures share with the watcher, so that cancel() can wait out a handler
// already running and stop the ones still queued on the executor.
struct FileWatcher::Delivery {
    Handler handler;
    std::mutex mutex;
    std::condition_variable finished;
    bool cancelled = false;                  // guarded by mutex
    std::multiset<std::thread::id> running;  // guarded by mutex; threads inside the handler
};

std::unique_ptr<FileWatcher> FileWatcher::watch(const std::string& path,
                                                std::shared_ptr<Executor> executor, Handler handler,
                                                Error* error) {
    auto fail = [&](int failure, int a, int b, int c) -> std::unique_ptr<FileWatcher> {
        for (int fd : {a, b, c})
            if (fd >= 0)
                ::close(fd);
        if (error != nullptr)
            *error = makeFileError(failure, path, FileAccess::reading, "watch");
        return nullptr;
    };
    const int inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0)
        return fail(errno, -1, -1, -1);
    if (::inotify_add_watch(inotifyFd, path.c_str(), watchedEvents) < 0)
        return fail(errno, inotifyFd, -1, -1);
    const int fileFd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fileFd < 0)
        return fail(errno, inotifyFd, -1, -1);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return fail(errno, inotifyFd, fileFd, -1);

    auto watcher = std::make_unique<FileWatcher>(Private{}, path, inotifyFd, fileFd, wakeFd,
                                                 std::move(executor), std::move(handler));
    watcher->thread_ = std::thread([raw = watcher.get()] { raw->run(); });
    return watcher;
}

FileWatcher::FileWatcher(Private, std::string path, int inotifyFd, int fileFd, int wakeFd,
                         std::shared_ptr<Executor> executor, Handler handler)
    : path_(std::move(path)),
      inotifyFd_(inotifyFd),
      fileFd_(fileFd),
      wakeFd_(wakeFd),
      executor_(std::move(executor)),
      delivery_(std::make_shared<Delivery>()) {
    delivery_->handler = std::move(handler);
}

FileWatcher::~FileWatcher() {
    cancel();
    ::close(inotifyFd_);
    ::close(fileFd_);
    ::close(wakeFd_);
}

void FileWatcher::cancel() {
    {
        // Two cancels at once (an owner's and its destructor's, say) must not both join.
        std::lock_guard lock(threadMutex_);
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
            thread_.join();
        }
    }
    Handler released;
    {
        std::unique_lock lock(delivery_->mutex);
        delivery_->cancelled = true;
        const auto self = std::this_thread::get_id();
        delivery_->finished.wait(
            lock, [&] { return delivery_->running.size() == delivery_->running.count(self); });
        // Let go of what the handler holds now rather than when the last queued closure runs;
        // not while it is still running on this very thread.
        if (delivery_->running.empty())
            released = std::move(delivery_->handler);
    }
}

void FileWatcher::run() {
    alignas(struct inotify_event) char buffer[eventBufferSize];
    pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (true) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;

        const ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        if (length <= 0)
            continue;
        bool renamed = false;
        bool linksChanged = false;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            if ((event->mask & IN_MOVE_SELF) != 0)
                renamed = true;
            if ((event->mask & (IN_ATTRIB | IN_DELETE_SELF)) != 0)
                linksChanged = true;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
        if (renamed)
            deliver(Event::renamed);
        if (linksChanged && !reportedDeletion_) {
            struct stat info {};
            if (::fstat(fileFd_, &info) == 0 && info.st_nlink == 0) {
                reportedDeletion_ = true;
                deliver(Event::deleted);
            }
        }
    }
}

void FileWatcher::deliver(Event event) {
    executor_->async([delivery = delivery_, event] {
        {
            std::scoped_lock lock(delivery->mutex);
            if (delivery->cancelled)
                return;
            delivery->running.insert(std::this_thread::get_id());
        }
        delivery->handler(event);
        {
            std::scoped_lock lock(delivery->mutex);
            delivery->running.erase(delivery->running.find(std::this_thread::get_id()));
        }
        delivery->finished.notify_all();
    });
}

}  // namespace pindle::platform
