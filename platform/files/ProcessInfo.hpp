// ProcessInfo: facts about the running process: its id, its name, the machine's CPUs and its
// memory page size.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace pindle::platform {

class ProcessInfo {
  public:
    ProcessInfo() = delete;

    static int processIdentifier();
    // The program's file name without its folder, as it was started (the first argument of
    // /proc/self/cmdline, untruncated), else that of /proc/self/exe; read once.
    static const std::string& processName();
    // CPUs online now.
    static unsigned processorCount();
    // The size of a memory page in bytes (4096 when the system does not say).
    static std::size_t pageSize();
    // The value of an environment variable; nothing when it is unset.
    static std::optional<std::string> environmentValue(const std::string& name);
};

}  // namespace pindle::platform
