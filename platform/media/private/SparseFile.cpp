#include "platform/media/private/SparseFile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace pindle::platform {

std::unique_ptr<SparseFile> SparseFile::create(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without anonymous files: a named one, unlinked at once.
        std::string path = folder + "/media-XXXXXX";
        fd = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        ::unlink(path.c_str());
    }
    return std::unique_ptr<SparseFile>(new SparseFile(fd));
}

SparseFile::~SparseFile() {
    ::close(fd_);
}

bool SparseFile::write(std::int64_t offset, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

std::size_t SparseFile::read(std::int64_t offset, std::uint8_t* buffer, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count =
            ::pread(fd_, buffer + done, size - done, offset + static_cast<std::int64_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return done;
}

void SparseFile::punch(std::int64_t start, std::int64_t end) {
    // Where holes cannot be punched the bytes stay on disk until the file goes: harmless.
    if (end > start)
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, start, end - start);
}

}  // namespace pindle::platform
