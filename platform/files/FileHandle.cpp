#include "platform/files/FileHandle.hpp"

#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files/FileError.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

namespace {

constexpr mode_t newFileMode = 0666;
constexpr std::size_t readChunkSize = 1 << 16;

int accessFlags(FileHandle::Mode mode) {
    switch (mode) {
        case FileHandle::Mode::reading:
            return O_RDONLY;
        case FileHandle::Mode::writing:
            return O_WRONLY;
        case FileHandle::Mode::updating:
            return O_RDWR;
        case FileHandle::Mode::appending:
            return O_WRONLY | O_APPEND;
    }
    return O_RDONLY;
}

FileAccess accessOf(FileHandle::Mode mode) {
    return mode == FileHandle::Mode::reading ? FileAccess::reading : FileAccess::writing;
}

}  // namespace

std::shared_ptr<FileHandle> FileHandle::open(const std::string& path, Mode mode, Creation creation,
                                             Error* error) {
    const int flags = accessFlags(mode) | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    bool created = false;
    if (fd < 0 && errno == ENOENT && creation == Creation::createIfMissing) {
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, newFileMode);
        // Lost a race with another creator: theirs is the file now.
        if (fd < 0 && errno == EEXIST)
            fd = ::open(path.c_str(), flags);
        else
            created = fd >= 0;
    }
    if (fd < 0) {
        if (error != nullptr)
            *error = makeFileError(errno, path, accessOf(mode), "open");
        return nullptr;
    }
    if (created)
        FileManager::defaultManager().recordCreation(path);
    return std::make_shared<FileHandle>(Private{}, fd, path, mode);
}

FileHandle::FileHandle(Private, int fd, std::string path, Mode mode)
    : path_(std::move(path)), mode_(mode), fd_(fd) {}

FileHandle::~FileHandle() {
    close().ignoreError();
}

Error FileHandle::failure(int errnoValue, const char* action) const {
    return makeFileError(errnoValue, path_, accessOf(mode_), action);
}

std::optional<Data> FileHandle::readLoop(
    std::size_t length, Error* error,
    const std::function<ssize_t(std::uint8_t*, std::size_t, std::size_t)>& readSome) {
    Data data(length);
    std::size_t filled = 0;
    while (filled < length) {
        const ssize_t count = readSome(data.data() + filled, length - filled, filled);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (error != nullptr)
                *error = failure(errno, "read");
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    data.resize(filled);
    return data;
}

std::optional<Data> FileHandle::read(std::size_t length, Error* error) {
    std::scoped_lock lock(mutex_);
    return readLoop(length, error, [this](std::uint8_t* into, std::size_t wanted, std::size_t) {
        return ::read(fd_, into, wanted);
    });
}

std::optional<Data> FileHandle::read(std::uint64_t offset, std::size_t length, Error* error) {
    std::scoped_lock lock(mutex_);
    return readLoop(length, error,
                    [this, offset](std::uint8_t* into, std::size_t wanted, std::size_t filled) {
                        return ::pread(fd_, into, wanted, static_cast<off_t>(offset + filled));
                    });
}

std::optional<Data> FileHandle::readToEnd(Error* error) {
    std::scoped_lock lock(mutex_);
    Data data;
    std::vector<std::uint8_t> buffer(readChunkSize);
    while (true) {
        const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (error != nullptr)
                *error = failure(errno, "read");
            return std::nullopt;
        }
        if (count == 0)
            return data;
        data.insert(data.end(), buffer.begin(), buffer.begin() + count);
    }
}

platform::Status FileHandle::writeLocked(const Data& data) {
    const std::uint8_t* bytes = data.data();
    std::size_t remaining = data.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd_, bytes, remaining);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return failure(errno, "write");
        }
        bytes += written;
        remaining -= static_cast<std::size_t>(written);
    }
    return std::nullopt;
}

platform::Status FileHandle::write(const Data& data) {
    std::scoped_lock lock(mutex_);
    return writeLocked(data);
}

platform::Status FileHandle::append(const Data& data) {
    std::scoped_lock lock(mutex_);
    if (::lseek(fd_, 0, SEEK_END) < 0)
        return failure(errno, "seek in");
    return writeLocked(data);
}

std::optional<std::uint64_t> FileHandle::positionAfterSeek(int whence, Error* error) {
    std::scoped_lock lock(mutex_);
    const off_t position = ::lseek(fd_, 0, whence);
    if (position < 0) {
        if (error != nullptr)
            *error = failure(errno, "seek in");
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(position);
}

std::optional<std::uint64_t> FileHandle::offset(Error* error) {
    return positionAfterSeek(SEEK_CUR, error);
}

platform::Status FileHandle::seek(std::uint64_t offset) {
    std::scoped_lock lock(mutex_);
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return failure(errno, "seek in");
    return std::nullopt;
}

std::optional<std::uint64_t> FileHandle::seekToEnd(Error* error) {
    return positionAfterSeek(SEEK_END, error);
}

std::optional<std::uint64_t> FileHandle::size(Error* error) const {
    std::scoped_lock lock(mutex_);
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        if (error != nullptr)
            *error = failure(errno, "read attributes of");
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

platform::Status FileHandle::truncate(std::uint64_t size) {
    std::scoped_lock lock(mutex_);
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        return failure(errno, "truncate");
    if (::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0)
        return failure(errno, "seek in");
    return std::nullopt;
}

platform::Status FileHandle::synchronize() {
    std::scoped_lock lock(mutex_);
    if (::fsync(fd_) != 0)
        return failure(errno, "sync");
    return std::nullopt;
}

platform::Status FileHandle::close() {
    std::scoped_lock lock(mutex_);
    if (fd_ < 0)
        return std::nullopt;
    const int result = ::close(fd_);
    fd_ = -1;
    // The descriptor is gone even when close reports a (deferred write) error.
    if (result != 0 && errno != EINTR)
        return failure(errno, "close");
    return std::nullopt;
}

namespace {

int flockOperation(FileHandle::LockKind kind) {
    return kind == FileHandle::LockKind::shared ? LOCK_SH : LOCK_EX;
}

}  // namespace

platform::Status FileHandle::lock(LockKind kind) {
    std::scoped_lock lock(mutex_);
    while (::flock(fd_, flockOperation(kind)) != 0) {
        if (errno != EINTR)
            return failure(errno, "lock");
    }
    return std::nullopt;
}

bool FileHandle::tryLock(LockKind kind, Error* error) {
    std::scoped_lock lock(mutex_);
    while (::flock(fd_, flockOperation(kind) | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK && error != nullptr)
            *error = failure(errno, "lock");
        return false;
    }
    return true;
}

platform::Status FileHandle::unlock() {
    std::scoped_lock lock(mutex_);
    if (::flock(fd_, LOCK_UN) != 0)
        return failure(errno, "unlock");
    return std::nullopt;
}

bool FileHandle::isStillAtPath() const {
    struct stat open {};
    {
        std::scoped_lock lock(mutex_);
        if (fd_ < 0 || ::fstat(fd_, &open) != 0)
            return false;
    }
    if (open.st_nlink == 0)
        return false;
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0)
        return false;
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace pindle::platform
