#include "platform/files/ProcessInfo.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace pindle::platform {

namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string readProcessName() {
    std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
    std::string firstArgument;
    if (commandLine)
        std::getline(commandLine, firstArgument, '\0');
    if (std::string name = baseName(firstArgument); !name.empty())
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

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

}  // namespace pindle::platform
