#include "platform/files/ProcessInfo.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace pindle::platform {

namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first argument the process was started with, up to PATH_MAX bytes; empty when unknown.
// Read with plain descriptors: a file stream would set up the C++ locales for this one read,
// which most processes otherwise never need.
std::string firstArgument() {
    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(PATH_MAX, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(filled);
    const std::size_t end = text.find('\0');
    // No terminator: the argument is longer than any path, or the read failed midway.
    return end == std::string::npos ? std::string() : text.substr(0, end);
}

std::string readProcessName() {
    if (std::string name = baseName(firstArgument()); !name.empty())
        return name;

    std::string executable(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", executable.data(), executable.size());
    if (length > 0) {
        executable.resize(static_cast<std::size_t>(length));
        return baseName(executable);
    }
    return program_invocation_short_name;
}

}  // namespace

int ProcessInfo::processIdentifier() {
    return static_cast<int>(::getpid());
}

const std::string& ProcessInfo::processName() {
    static const auto* name = new std::string(readProcessName());
    return *name;
}

unsigned ProcessInfo::processorCount() {
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    if (online > 0)
        return static_cast<unsigned>(online);
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

std::size_t ProcessInfo::pageSize() {
    static const std::size_t size = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
    }();
    return size;
}

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

}  // namespace pindle::platform
