// ChildProcess: a helper program a test starts (a private server, a stand-in service), with
// its standard output readable line by line with a deadline, stopped when the object goes or
// when the test process dies.
//
// Thread-safety: use from one thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pindle::testing {

class ChildProcess {
  public:
    // Starts `argv` (argv[0] looked up in PATH) with `environment` added to this process's
    // own, standard output to a pipe and standard error inherited. Null, with `why`, when it
    // cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                               const std::vector<std::string>& environment,
                                               std::string* why);
    // SIGTERM, then SIGKILL after a second; always reaped. A child that failed to exec ends
    // with status 127 and closes its output, so readLine() answers nothing.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output, without its newline; nothing when the child closed
    // it or `patience` passed first.
    std::optional<std::string> readLine(std::chrono::milliseconds patience);
    pid_t pid() const { return pid_; }

    // Where `program` is found in PATH; empty when nowhere.
    static std::string find(const std::string& program);

    ChildProcess(pid_t pid, int output) : pid_(pid), output_(output) {}

  private:
    pid_t pid_;
    int output_;
    std::string buffered_;
};

}  // namespace pindle::testing
