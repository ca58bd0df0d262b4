#include "platform/files/FileLock.hpp"

#include "platform/files/FileManager.hpp"

namespace pindle::platform {

namespace {

// A taker that keeps finding its file removed under it has lost to a remover this many times
// in a row; past that, something removes every lock file at once, and waiting longer would
// not help.
constexpr int removedUnderTakerLimit = 100;

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, Kind kind, Error* error) {
    return take(path, kind, true, error);
}

std::unique_ptr<FileLock> FileLock::tryAcquire(const std::string& path, Kind kind, Error* error) {
    return take(path, kind, false, error);
}

std::unique_ptr<FileLock> FileLock::take(const std::string& path, Kind kind, bool wait,
                                         Error* error) {
    for (int attempt = 0; attempt < removedUnderTakerLimit; ++attempt) {
        auto handle = FileHandle::open(path, FileHandle::Mode::writing,
                                       FileHandle::Creation::createIfMissing, error);
        if (!handle)
            return nullptr;
        if (wait) {
            if (platform::Status failure = handle->lock(kind); !failure.ok()) {
                if (error != nullptr)
                    *error = failure.error();
                return nullptr;
            }
        } else if (!handle->tryLock(kind, error)) {
            return nullptr;
        }
        // Removed (or replaced) between our open and our lock: the lock of a file nobody can
        // find any more guards nothing.
        if (handle->isStillAtPath())
            return std::unique_ptr<FileLock>(new FileLock(std::move(handle)));
    }
    if (error != nullptr)
        *error = Error(
            CocoaError::domain, CocoaError::fileWriteUnknown,
            {{Error::localizedDescriptionKey, "the lock file " + path + " keeps being removed"}});
    return nullptr;
}

bool FileLock::isHeld(const std::string& path) {
    auto handle = FileHandle::open(path, FileHandle::Mode::reading);
    if (!handle)
        return false;
    Error error;
    if (handle->tryLock(Kind::shared, &error))
        return false;
    // A failure to look says nothing of a holder; only a conflict does.
    return error.domain().empty();
}

FileLock::~FileLock() {
    handle_->close().ignoreError();
}

void FileLock::removeAndRelease() {
    FileManager::defaultManager().removeItem(handle_->path()).ignoreError();
    handle_->close().ignoreError();
}

}  // namespace pindle::platform
