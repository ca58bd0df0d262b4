// Thread: a thread of its own for work that blocks for long (a poll loop that runs for the
// life of the process), which would starve a shared queue's workers. It names itself through
// ThreadIdentity before its body runs, so that log lines and debuggers tell it apart.
//
// Thread-safety: one Thread object is used by one thread at a time, as a std::thread is; the
// body runs on the new thread. A Thread still joinable when destroyed is joined first (let go
// instead when that happens on the thread itself).
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace pindle::platform {

class Thread {
  public:
    // No thread.
    Thread() = default;
    // Starts a thread named `name` (Linux keeps 15 bytes of it) that runs `body`.
    Thread(std::string name, std::function<void()> body);
    ~Thread();

    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool joinable() const;
    // Waits until the body has returned. REQUIRES: joinable(), and not called on the thread
    // itself.
    void join();

  private:
    std::thread thread_;
};

}  // namespace pindle::platform
