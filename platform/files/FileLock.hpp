// FileLock: a lock file through which processes that share a folder take turns, held while the
// object lives.
//
// The lock is an advisory lock of the file (FileHandle::lock): the kernel drops it when the
// process ends, however it ends, so a crash never leaves a lock behind. It binds only code
// that takes the same lock file. Every FileLock opens the file afresh, so two of them on one
// path conflict within one process as across processes: a thread that holds one must not
// take the same one again.
//
// A lock file may be removed while it is held (removeAndRelease): a taker that locked a file
// which was removed meanwhile finds that its path no longer names it and takes the file now
// there instead, so two holders never believe they hold the same path.
//
// Thread-safety: the static operations are safe from any thread; one FileLock belongs to one
// thread at a time. acquire() blocks its caller while another holds the lock. Calls nothing
// back.
#pragma once

#include <memory>
#include <string>

#include "platform/files/FileHandle.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class FileLock {
  public:
    using Kind = FileHandle::LockKind;

    // Waits until nobody holds a conflicting lock at `path`, making the file when it is
    // missing (its folder must exist). Null, with `error` when asked for, when the file
    // cannot be made, opened or locked.
    static std::unique_ptr<FileLock> acquire(const std::string& path, Kind kind = Kind::exclusive,
                                             Error* error = nullptr);
    // acquire() without waiting: null when another holder has a conflicting lock now (`error`
    // untouched), or on a failure (`error` set).
    static std::unique_ptr<FileLock> tryAcquire(const std::string& path,
                                                Kind kind = Kind::exclusive,
                                                Error* error = nullptr);
    // Whether someone (this process included) holds an exclusive lock at `path`; false when
    // there is no file. The look takes a shared lock for a moment, during which a
    // tryAcquire() of an exclusive one elsewhere fails.
    static bool isHeld(const std::string& path);

    // Releases the lock; the file stays.
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    const std::string& path() const { return handle_->path(); }
    // Removes the lock file while still holding it, then releases the lock. Errors are
    // ignored: a file that stays is only a lock file nobody holds.
    void removeAndRelease();

  private:
    explicit FileLock(std::shared_ptr<FileHandle> handle) : handle_(std::move(handle)) {}
    static std::unique_ptr<FileLock> take(const std::string& path, Kind kind, bool wait,
                                          Error* error);

    std::shared_ptr<FileHandle> handle_;
};

}  // namespace pindle::platform
