#include "platform/dispatch/Thread.hpp"

#include <utility>

#include "platform/dispatch/ThreadIdentity.hpp"

namespace pindle::platform {

Thread::Thread(std::string name, std::function<void()> body)
    : thread_([name = std::move(name), body = std::move(body)] {
          ThreadIdentity::setCurrentThreadName(name);
          body();
      }) {}

namespace {

// A thread cannot wait for itself: one that dropped the last reference to its own Thread is
// let go instead.
void finish(std::thread& thread) {
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

}  // namespace

Thread::~Thread() {
    finish(thread_);
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        finish(thread_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

bool Thread::joinable() const {
    return thread_.joinable();
}

void Thread::join() {
    thread_.join();
}

}  // namespace pindle::platform
