// Subprocess: runs a helper program of the proxy code (the PAC evaluator, the desktop's
// gsettings) to its end within a time limit, with bytes on its standard input, and collects
// its standard output.
//
// The child inherits no descriptor of this process but its standard input and output; its
// standard error goes to /dev/null. Past the time limit, or once its output passes the bound,
// it is killed and waited for. Its input goes through a socket written with MSG_NOSIGNAL, so
// a child that exits without reading it all cannot raise SIGPIPE here: no signal disposition
// or mask of the host is touched.
//
// Thread-safety: stateless; call from any thread. run() blocks its caller until the child has
// ended, at most about `timeoutSeconds` (real time, not the platform clock: a child is never
// left running because a test stopped time).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pindle::platform {

class Subprocess {
  public:
    Subprocess() = delete;

    // The standard output of `path` run with `arguments` (the first is the name the program
    // sees as its own) and `input` on its standard input, when it exited with status 0 within
    // `timeoutSeconds` after writing at most `maximumOutput` bytes; nothing otherwise (it could
    // not be started, failed, was killed or said too much).
    static std::optional<std::string> run(const std::string& path,
                                          const std::vector<std::string>& arguments,
                                          const std::string& input, double timeoutSeconds,
                                          std::size_t maximumOutput);
};

}  // namespace pindle::platform
