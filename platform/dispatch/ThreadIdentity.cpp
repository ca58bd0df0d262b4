#include "platform/dispatch/ThreadIdentity.hpp"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <utility>

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
// The calling thread's name as first asked or last set: asking the kernel costs a system
// call per log message otherwise.
thread_local std::optional<std::string> cachedName;

// A thread keeps its id for life, so it is asked once; a forked child's only thread is the
// forking one under a new id, hence the reset.
thread_local std::uint64_t cachedThreadID = 0;

void forgetThreadIDInChild() {
    cachedThreadID = 0;
}

}  // namespace

std::uint64_t ThreadIdentity::currentThreadID() {
    if (cachedThreadID == 0) {
        static const bool registered =
            ::pthread_atfork(nullptr, nullptr, forgetThreadIDInChild) == 0;
        (void)registered;
        cachedThreadID = static_cast<std::uint64_t>(::syscall(SYS_gettid));
    }
    return cachedThreadID;
}

std::string ThreadIdentity::currentThreadName() {
    return std::string(currentThreadNameView());
}

std::string_view ThreadIdentity::currentThreadNameView() {
    if (cachedName) {
        return *cachedName;
    }
    std::array<char, threadNameCapacity> buffer{};
    if (::pthread_getname_np(::pthread_self(), buffer.data(), buffer.size()) != 0) {
        return {};
    }
    std::string name = buffer.data();
    if (!namedHere && name == inheritedName()) {
        name.clear();
    }
    cachedName = std::move(name);
    return *cachedName;
}

void ThreadIdentity::setCurrentThreadName(const std::string& name) {
    std::string cut = name.substr(0, threadNameCapacity - 1);
    if (::pthread_setname_np(::pthread_self(), cut.c_str()) == 0) {
        namedHere = true;
        cachedName = cut;
    }
}

}  // namespace pindle::platform
