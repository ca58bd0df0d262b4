#include "platform/log/ThreadIdentity.hpp"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>

namespace pindle::platform {

namespace {

// Linux thread names: 15 bytes and the terminating zero.
constexpr std::size_t threadNameCapacity = 16;

// The name a thread starts with: the main thread carries the process's command name, and
// threads it creates inherit that, so it says nothing about the thread.
std::string readInheritedName() {
    std::array<char, threadNameCapacity> buffer{};
    FILE* comm = std::fopen("/proc/self/comm", "r");
    if (comm == nullptr) {
        return {};
    }
    std::string name;
    if (std::fgets(buffer.data(), buffer.size(), comm) != nullptr) {
        name = buffer.data();
    }
    std::fclose(comm);
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

const std::string& inheritedName() {
    static const std::string* name = new std::string(readInheritedName());
    return *name;
}

thread_local bool namedHere = false;

}  // namespace

std::uint64_t ThreadIdentity::currentThreadID() {
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
}

std::string ThreadIdentity::currentThreadName() {
    std::array<char, threadNameCapacity> buffer{};
    if (::pthread_getname_np(::pthread_self(), buffer.data(), buffer.size()) != 0) {
        return {};
    }
    std::string name = buffer.data();
    if (!namedHere && name == inheritedName()) {
        return {};
    }
    return name;
}

void ThreadIdentity::setCurrentThreadName(const std::string& name) {
    std::string cut = name.substr(0, threadNameCapacity - 1);
    if (::pthread_setname_np(::pthread_self(), cut.c_str()) == 0) {
        namedHere = true;
    }
}

}  // namespace pindle::platform
