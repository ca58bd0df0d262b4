#include "tests/support/ChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace pindle::testing {

std::string ChildProcess::find(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  const std::vector<std::string>& environment,
                                                  std::string* why) {
    const auto refuse = [&](std::string reason) -> std::unique_ptr<ChildProcess> {
        if (why)
            *why = std::move(reason);
        return nullptr;
    };
    if (argv.empty())
        return refuse("no program");
    const std::string program = find(argv[0]);
    if (program.empty())
        return refuse(argv[0] + " is not installed");
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return refuse(std::string("pipe: ") + std::strerror(errno));
    std::vector<std::string> envStrings;
    for (char** entry = environ; *entry; ++entry) envStrings.emplace_back(*entry);
    envStrings.insert(envStrings.end(), environment.begin(), environment.end());
    std::vector<char*> args, env;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const auto& entry : envStrings) env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    // Forked rather than spawned so that the child dies with the test process (a crashed
    // test leaves no bus or service behind).
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return refuse("cannot start " + program + ": " + std::strerror(error));
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execve(program.c_str(), args.data(), env.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return std::make_unique<ChildProcess>(pid, pipeFds[0]);
}

ChildProcess::~ChildProcess() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < 100; ++waited) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ::close(output_);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    ::close(output_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd fd{output_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[512];
        const ssize_t got = ::read(output_, chunk, sizeof chunk);
        if (got <= 0)
            return std::nullopt;
        buffered_.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace pindle::testing
