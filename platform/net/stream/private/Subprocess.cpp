#include "platform/net/stream/private/Subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

extern char** environ;

namespace pindle::platform {

namespace {

using Deadline = std::chrono::steady_clock::time_point;

// A descriptor closed when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

struct Child {
    pid_t pid = -1;
    Descriptor input;   // our end of its standard input
    Descriptor output;  // our end of its standard output
    Descriptor exit;    // readable once it has exited; not open where the kernel has no pidfd
    bool reaped = false;
    int status = 0;
};

bool reap(Child& child, int options) {
    for (;;) {
        pid_t result = ::waitpid(child.pid, &child.status, options);
        if (result == child.pid) {
            child.reaped = true;
            return true;
        }
        if (result < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool spawn(Child& child, const std::string& path, const std::vector<std::string>& arguments) {
    int input[2];
    int output[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0)
        return false;
    Descriptor childInput(input[0]);
    child.input = Descriptor(input[1]);
    if (::pipe2(output, O_CLOEXEC) != 0)
        return false;
    Descriptor childOutput(output[1]);
    child.output = Descriptor(output[0]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childInput.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childOutput.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The child starts with no signal blocked, whatever this thread blocks (a host that waits
    // for SIGINT with sigwait blocks it in every thread).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    int spawned =
        ::posix_spawn(&child.pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    // Called directly: the C library's declaration of it has no C linkage for C++.
    child.exit = Descriptor(static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0)));
    return true;
}

// Feeds the child `input` and collects its output until it has exited and closed its output,
// the deadline passes, or the output passes `maximumOutput`. True in the first case.
bool exchange(Child& child, const std::string& input, std::string& output,
              std::size_t maximumOutput, Deadline deadline) {
    std::size_t written = 0;
    if (input.empty())
        child.input.reset();
    for (;;) {
        bool exited = child.reaped || !child.exit.open();
        if (!child.output.open() && exited)
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entries[3] = {{child.output.get(), POLLIN, 0},
                             {child.input.get(), POLLOUT, 0},
                             {child.reaped ? -1 : child.exit.get(), POLLIN, 0}};
        int ready = ::poll(entries, 3, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        if (entries[1].revents & (POLLOUT | POLLERR | POLLHUP)) {
            ssize_t count = ::send(child.input.get(), input.data() + written,
                                   input.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count > 0)
                written += static_cast<std::size_t>(count);
            // A child that stopped reading gets no more; its answer still counts.
            if (count < 0 && errno != EAGAIN && errno != EINTR)
                written = input.size();
            if (written == input.size())
                child.input.reset();
        }
        if (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char chunk[4096];
            ssize_t count = ::read(child.output.get(), chunk, sizeof chunk);
            if (count == 0) {
                child.output.reset();
                child.input.reset();
            } else if (count > 0) {
                output.append(chunk, static_cast<std::size_t>(count));
                if (output.size() > maximumOutput)
                    return false;
            } else if (errno != EAGAIN && errno != EINTR) {
                return false;
            }
        }
        if (entries[2].revents & POLLIN)
            reap(child, WNOHANG);
    }
}

}  // namespace

std::optional<std::string> Subprocess::run(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           const std::string& input, double timeoutSeconds,
                                           std::size_t maximumOutput) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(std::max(timeoutSeconds, 0.0)));
    Child child;
    if (!spawn(child, path, arguments))
        return std::nullopt;
    std::string output;
    bool finished = exchange(child, input, output, maximumOutput, deadline);
    child.input.reset();
    child.output.reset();
    if (!child.reaped) {
        if (!finished)
            ::kill(child.pid, SIGKILL);
        reap(child, 0);
    }
    if (!finished || !child.reaped || !WIFEXITED(child.status) || WEXITSTATUS(child.status) != 0)
        return std::nullopt;
    return output;
}

}  // namespace pindle::platform
