#include "platform/net/stream/ProxyAutoConfiguration.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/net/stream/private/Subprocess.hpp"

namespace pindle::platform {

namespace {

constexpr const char* evaluatorName = "pindle-pac-evaluator";
constexpr std::size_t maximumAnswerSize = 64u << 10;

std::string uppercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string_view withoutSurroundingSpace(std::string_view text) {
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
    auto answer =
        Subprocess::run(evaluatorPath(), {evaluatorName}, url + "\n" + host + "\n" + script,
                        timeoutSeconds, maximumAnswerSize);
    if (!answer)
        return std::nullopt;
    auto proxies = parseAnswer(*answer);
    if (proxies.empty())
        return std::nullopt;
    return proxies;
}

std::vector<ProxySettings::Proxy> ProxyAutoConfiguration::parseAnswer(std::string_view answer) {
    using Type = ProxySettings::Proxy::Type;
    std::vector<ProxySettings::Proxy> result;
    while (!answer.empty()) {
        auto end = answer.find(';');
        std::string_view entry = withoutSurroundingSpace(answer.substr(0, end));
        answer = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
        if (entry.empty())
            continue;
        auto space = entry.find_first_of(" \t");
        std::string kind = uppercased(std::string(entry.substr(0, space)));
        std::string_view where = space == std::string_view::npos
                                     ? std::string_view()
                                     : withoutSurroundingSpace(entry.substr(space));
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
