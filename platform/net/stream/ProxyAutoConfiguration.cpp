#include "platform/net/stream/ProxyAutoConfiguration.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

extern char** environ;

namespace pindle::platform {

namespace {

constexpr const char* evaluatorName = "pindle-pac-evaluator";
constexpr std::size_t maximumAnswerSize = 64u << 10;

std::string uppercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// "host:port", "[v6]:port" or a bare host.
bool splitHostPort(std::string_view text, ProxySettings::Proxy& proxy) {
    std::string_view host = text;
    std::optional<int> port;
    auto colon = text.rfind(':');
    bool bracketed = !text.empty() && text.front() == '[';
    // A bare IPv6 address has several colons and no port; a bracketed one may have a port.
    bool hasPort = colon != std::string_view::npos && colon > 0 &&
                   (bracketed ? text[colon - 1] == ']' : text.find(':') == colon);
    if (hasPort) {
        host = text.substr(0, colon);
        std::string_view digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        port = std::stoi(std::string(digits));
        if (*port == 0 || *port > 65535)
            return false;
    }
    if (!bracketed && !host.empty() && host.front() == ':')
        return false;
    if (bracketed && host.size() >= 2 && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        return false;
    proxy.host = std::string(host);
    proxy.port = port;
    return true;
}

// Writes `input` to the child's stdin and collects its stdout until it exits or the
// deadline passes. False on time-out or a failure to talk to it.
bool exchange(int input, int output, const std::string& data, std::string& answer,
              std::chrono::steady_clock::time_point deadline) {
    std::size_t written = 0;
    bool inputOpen = true;
    if (data.empty()) {
        ::close(input);
        inputOpen = false;
    }
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd entries[2] = {{output, POLLIN, 0}, {inputOpen ? input : -1, POLLOUT, 0}};
        int ready = ::poll(entries, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (inputOpen && (entries[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t count = ::write(input, data.data() + written, data.size() - written);
            if (count > 0)
                written += static_cast<std::size_t>(count);
            if (count < 0 && errno != EAGAIN && errno != EINTR)
                written = data.size();
            if (written == data.size()) {
                ::close(input);
                inputOpen = false;
            }
        }
        if (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char chunk[4096];
            ssize_t count = ::read(output, chunk, sizeof chunk);
            if (count == 0) {
                if (inputOpen)
                    ::close(input);
                return true;
            }
            if (count > 0) {
                answer.append(chunk, static_cast<std::size_t>(count));
                if (answer.size() > maximumAnswerSize)
                    break;
            } else if (errno != EAGAIN && errno != EINTR) {
                break;
            }
        }
    }
    if (inputOpen)
        ::close(input);
    return false;
}

}  // namespace

std::string ProxyAutoConfiguration::evaluatorPath() {
    if (const char* path = std::getenv("PINDLE_PAC_EVALUATOR"); path && *path)
        return path;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ProxyAutoConfiguration::evaluatorPath), &info) &&
        info.dli_fname) {
        std::string library = info.dli_fname;
        auto slash = library.rfind('/');
        if (slash != std::string::npos)
            return library.substr(0, slash + 1) + evaluatorName;
    }
    return evaluatorName;
}

std::optional<std::vector<ProxySettings::Proxy>> ProxyAutoConfiguration::evaluate(
    const std::string& script, const std::string& url, const std::string& host,
    double timeoutSeconds) {
    if (script.size() > maximumScriptSize || url.find('\n') != std::string::npos ||
        host.find('\n') != std::string::npos)
        return std::nullopt;
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0)
        return std::nullopt;
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The evaluator starts with no signal blocked, whatever the host blocks in its own
    // threads (a host that waits for SIGINT with sigwait blocks it everywhere).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::string path = evaluatorPath();
    char* arguments[] = {const_cast<char*>(evaluatorName), nullptr};
    pid_t child = -1;
    int spawned = ::posix_spawn(&child, path.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (spawned != 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return std::nullopt;
    }
    ::fcntl(toChild[1], F_SETFL, O_NONBLOCK);
    // A child that exits early must not end this process by SIGPIPE on the write.
    ::signal(SIGPIPE, SIG_IGN);

    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(std::max(timeoutSeconds, 0.0)));
    std::string answer;
    bool finished =
        exchange(toChild[1], fromChild[0], url + "\n" + host + "\n" + script, answer, deadline);
    ::close(fromChild[0]);
    if (!finished)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    auto proxies = parseAnswer(answer);
    if (proxies.empty())
        return std::nullopt;
    return proxies;
}

std::vector<ProxySettings::Proxy> ProxyAutoConfiguration::parseAnswer(std::string_view answer) {
    using Type = ProxySettings::Proxy::Type;
    std::vector<ProxySettings::Proxy> result;
    while (!answer.empty()) {
        auto end = answer.find(';');
        std::string_view entry = trimmed(answer.substr(0, end));
        answer = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
        if (entry.empty())
            continue;
        auto space = entry.find_first_of(" \t");
        std::string kind = uppercased(std::string(entry.substr(0, space)));
        std::string_view where =
            space == std::string_view::npos ? std::string_view() : trimmed(entry.substr(space));
        ProxySettings::Proxy proxy;
        if (kind == "DIRECT" && where.empty()) {
            result.push_back(proxy);
            continue;
        }
        if (kind == "PROXY" || kind == "HTTP")
            proxy.type = Type::http;
        else if (kind == "HTTPS")
            proxy.type = Type::https;
        else if (kind == "SOCKS" || kind == "SOCKS5")
            proxy.type = Type::socks;
        else if (kind == "SOCKS4") {
            proxy.type = Type::socks;
            proxy.socksVersion = 4;
        } else
            continue;
        if (splitHostPort(where, proxy))
            result.push_back(std::move(proxy));
    }
    return result;
}

}  // namespace pindle::platform
