// ThreadIdentity: who the calling thread is, for log lines: its kernel thread id and its name.
//
// Thread-safety: every function reads or changes only the calling thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pindle::platform {

class ThreadIdentity {
  public:
    ThreadIdentity() = delete;

    // The kernel's id of the calling thread (gettid), unique among live threads of the system.
    // Asked once per thread (and again in a forked child).
    static std::uint64_t currentThreadID();
    // The calling thread's name; empty when it has none of its own (a thread that was never
    // named inherits the process name on Linux, which does not count as a name here). Read
    // from the kernel once per thread, then kept: a thread renames itself through
    // setCurrentThreadName(), and a name given by other means must come before the first call.
    static std::string currentThreadName();
    // currentThreadName() without a copy; valid until the calling thread renames itself.
    static std::string_view currentThreadNameView();
    // Names the calling thread. Linux keeps at most 15 bytes of a name; the rest is cut.
    static void setCurrentThreadName(const std::string& name);
};

}  // namespace pindle::platform
