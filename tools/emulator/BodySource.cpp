#include "tools/emulator/BodySource.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pindle::emulator {

std::shared_ptr<const BodySource> BodySource::ofBytes(std::shared_ptr<const std::string> bytes) {
    const auto size = static_cast<std::uint64_t>(bytes->size());
    return std::shared_ptr<const BodySource>(new BodySource(std::move(bytes), -1, size));
}

std::shared_ptr<const BodySource> BodySource::ofFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<const BodySource>(
        new BodySource(nullptr, fd, static_cast<std::uint64_t>(status.st_size)));
}

BodySource::BodySource(std::shared_ptr<const std::string> bytes, int fd, std::uint64_t size)
    : bytes_(std::move(bytes)), fd_(fd), size_(size) {}

BodySource::~BodySource() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::string_view> BodySource::inMemory() const {
    if (!bytes_)
        return std::nullopt;
    return std::string_view(*bytes_);
}

bool BodySource::read(std::uint64_t offset, std::size_t length, std::string& out) const {
    if (offset > size_ || length > size_ - offset)
        return false;
    if (bytes_) {
        out.assign(*bytes_, static_cast<std::size_t>(offset), length);
        return true;
    }
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace pindle::emulator
