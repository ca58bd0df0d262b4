// FileHandle: an open file, for reading, writing, updating or appending.
//
// The descriptor is closed when the handle is destroyed, or earlier by close(); every
// operation after close() fails with EBADF. Reads and writes retry interrupted system calls
// and writes always write every byte (or fail).
//
// A writer that must not keep writing into a file that was deleted or renamed away under it
// (Linux keeps an unlinked file alive while a descriptor is open, and a file watcher sees its
// deletion only at the last close) calls isStillAtPath() before each write: a fstat and a
// stat, cheap enough for that.
//
// Advisory locks (lock, tryLock, unlock) are flock(2) locks of this open file: they bind only
// code that takes them too, conflict with those of every other open file of the same file (in
// this process as in others), and go when the handle closes or the process ends. FileLock
// builds lock files on them.
//
// Thread-safety: all operations are safe from any thread; one handle's operations are
// serialised by its own lock, so a read or write never sees another one half done.
#pragma once

#include <sys/types.h>
#include <cstddef>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

class FileHandle {
  public:
    enum class Mode {
        reading,    // read only
        writing,    // write only, from offset 0, nothing truncated
        updating,   // read and write
        appending,  // write only; every write goes to the end of the file
    };
    enum class Creation { mustExist, createIfMissing };
    enum class LockKind { shared, exclusive };

    // nullptr (and `error`, when asked for) when the file cannot be opened. A file created
    // here gets its creation date recorded (see FileManager). REQUIRES: Mode::reading is not
    // combined with Creation::createIfMissing.
    static std::shared_ptr<FileHandle> open(const std::string& path, Mode mode,
                                            Creation creation = Creation::mustExist,
                                            Error* error = nullptr);

    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    const std::string& path() const { return path_; }
    Mode mode() const { return mode_; }

    // Up to `length` bytes from the current offset; fewer at the end of the file, none past it.
    std::optional<Data> read(std::size_t length, Error* error = nullptr);
    // Up to `length` bytes from `offset`, leaving the current offset where it is.
    std::optional<Data> read(std::uint64_t offset, std::size_t length, Error* error = nullptr);
    // Everything from the current offset to the end.
    std::optional<Data> readToEnd(Error* error = nullptr);

    // Writes at the current offset (at the end in Mode::appending).
    platform::Status write(const Data& data);
    // Moves to the end and writes there.
    platform::Status append(const Data& data);

    std::optional<std::uint64_t> offset(Error* error = nullptr);
    platform::Status seek(std::uint64_t offset);
    // The new offset, which is the file's size.
    std::optional<std::uint64_t> seekToEnd(Error* error = nullptr);
    // The file's current size, leaving the offset where it is.
    std::optional<std::uint64_t> size(Error* error = nullptr) const;
    // Cuts (or extends with zeros) the file to `size` and moves the offset there.
    platform::Status truncate(std::uint64_t size);
    // Flushes the file's data and metadata to the device (fsync).
    platform::Status synchronize();
    // Closes the descriptor; closing twice is success.
    platform::Status close();

    // Takes an advisory lock on the whole file, waiting while another open file holds one that
    // conflicts (exclusive conflicts with any other). Meanwhile this handle's other operations
    // wait too. A second call converts the lock held to `kind`.
    platform::Status lock(LockKind kind);
    // lock() without waiting: false when another open file holds a conflicting lock, and false
    // with `error` set when locking failed otherwise.
    bool tryLock(LockKind kind, Error* error = nullptr);
    platform::Status unlock();

    // True while the handle's file still has a link and `path()` still names it (same device
    // and inode). False once it was deleted, renamed away or replaced, or after close().
    bool isStillAtPath() const;

  private:
    // The offset after moving 0 bytes from `whence` (SEEK_CUR or SEEK_END).
    std::optional<std::uint64_t> positionAfterSeek(int whence, Error* error);
    // Reads up to `length` bytes with `readSome(into, wanted, filledSoFar)`, retrying on EINTR
    // and stopping at the end of the file. REQUIRES: mutex_ held.
    std::optional<Data> readLoop(
        std::size_t length, Error* error,
        const std::function<ssize_t(std::uint8_t*, std::size_t, std::size_t)>& readSome);
    struct Private {
        explicit Private() = default;
    };

  public:
    FileHandle(Private, int fd, std::string path, Mode mode);

  private:
    Error failure(int errnoValue, const char* action) const;
    platform::Status writeLocked(const Data& data);

    const std::string path_;
    const Mode mode_;
    mutable std::mutex mutex_;
    int fd_;  // guarded by mutex_; -1 once closed
};

}  // namespace pindle::platform
