// pindle-pac-evaluator: runs one proxy auto-configuration script in a process of its own,
// so that a script that loops, allocates without end or crashes the engine costs its
// caller nothing but a time-out (see platform::ProxyAutoConfiguration).
//
// Input on stdin: the URL, a newline, the host, a newline, then the script. Output on
// stdout: what FindProxyForURL(url, host) returned, as text. Exit status 0 on success,
// 1 when the script does not define the function or throws, 2 when the input is too large
// or the engine runs out of its memory budget.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/pac-evaluator/PacEvaluator.hpp"

namespace {

constexpr rlim_t cpuSecondsBackstop = 30;

std::optional<std::string> resolve(const char* host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
    ::freeaddrinfo(found);
    return std::string(text);
}

[[noreturn]] void fatal(const char* message) {
    std::fprintf(stderr, "pac: %s\n", message);
    std::_Exit(2);
}

}  // namespace

int main() {
    rlimit cpu{cpuSecondsBackstop, cpuSecondsBackstop};
    ::setrlimit(RLIMIT_CPU, &cpu);

    std::string input;
    char chunk[8192];
    while (std::size_t count = std::fread(chunk, 1, sizeof chunk, stdin)) {
        input.append(chunk, count);
        if (input.size() > pindle::pac::maximumInput)
            return 2;
    }
    std::string answer;
    auto outcome = pindle::pac::evaluate(input, answer, resolve, fatal);
    if (outcome == pindle::pac::Outcome::scriptFailed)
        std::fprintf(stderr, "pac: %s\n", answer.c_str());
    else if (outcome == pindle::pac::Outcome::answered)
        std::fwrite(answer.data(), 1, answer.size(), stdout);
    return static_cast<int>(outcome);
}
