#include "examples/pindle-example/Interruption.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace pindle::example {

namespace {

std::atomic<int> received{0};

void say(const std::string& text) {
    const std::string line = "pindle-example: " + text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

// Waits for the first signal, then for a second one or the end of the grace, whichever comes
// first, and ends the program if it is still running then.
void watch(sigset_t signals) {
    int first = 0;
    while (::sigwait(&signals, &first) != 0) {
    }
    received.store(first);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(Interruption::graceSeconds);
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec wait{
            static_cast<time_t>(seconds.count()),
            static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count())};
        if (::sigtimedwait(&signals, nullptr, &wait) > 0) {
            say("a second signal: ending now");
            ::_exit(Interruption::exitStatus());
        }
        if (errno == EAGAIN)
            break;
    }
    say(Interruption::signalName() + ": the command did not end within " +
        std::to_string(Interruption::graceSeconds) + " s; ending now");
    ::_exit(Interruption::exitStatus());
}

}  // namespace

void Interruption::install() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Every thread started from now on inherits the mask, so the signals reach only the
    // watcher's sigwait and never interrupt a call in another thread.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(watch, signals).detach();
}

int Interruption::signal() {
    return received.load();
}

int Interruption::exitStatus() {
    return 128 + signal();
}

std::string Interruption::signalName() {
    switch (signal()) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signal());
    }
}

platform::Error Interruption::error() {
    return platform::Error(
        "pindle-example", exitStatus(),
        {{platform::Error::localizedDescriptionKey, "interrupted by " + signalName()}});
}

}  // namespace pindle::example
