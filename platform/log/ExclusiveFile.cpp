#include "platform/log/ExclusiveFile.hpp"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/files/FileError.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

namespace {

constexpr mode_t newFileMode = 0644;

}  // namespace

platform::Status ExclusiveFile::create(const std::string& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return makeFileError(errno, path, FileAccess::writing, "create");
    }
    ::close(fd);
    FileManager::defaultManager().recordCreation(path);
    return std::nullopt;
}

bool ExclusiveFile::isCollision(const Error& error) {
    return underlyingPOSIXCode(error) == EEXIST;
}

}  // namespace pindle::platform
