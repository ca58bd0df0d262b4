// The input of the proxy auto-configuration evaluator: a URL on the first line, the script
// after it. The host is taken from the URL as the connector does; the answer is parsed as the
// connector parses it. Name lookups stay off the network (only literal addresses resolve).
//
// Scripts that can only make the evaluation long are left out (loops, eval and the ways to
// reach it, recursion, regular expressions, large numbers): in the SDK the evaluator's process
// is killed at its deadline, and here a slow input would stop the fuzzer without showing a
// fault. The shell-expression matcher is also checked against a plain reference on the URL
// and the start of the script.
#include <arpa/inet.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.hpp"
#include "platform/net/stream/ProxyAutoConfiguration.hpp"
#include "platform/pac-evaluator/PacEvaluator.hpp"

namespace {

constexpr std::size_t maximumScript = 4096;
constexpr std::size_t referenceLimit = 48;

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::optional<std::string> resolveLiteral(const char* host) {
    in_addr address{};
    if (inet_pton(AF_INET, host, &address) != 1)
        return std::nullopt;
    return std::string(host);
}

[[noreturn]] void fatal(const char*) {
    std::abort();
}

bool isWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

std::size_t wordCount(std::string_view text, std::string_view word) {
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + 1)) {
        bool before = at > 0 && isWordCharacter(text[at - 1]);
        bool after = at + word.size() < text.size() && isWordCharacter(text[at + word.size()]);
        if (!before && !after)
            ++count;
    }
    return count;
}

bool onlyRunsBriefly(std::string_view script) {
    if (script.size() > maximumScript || script.find_first_of("/[\\") != std::string_view::npos)
        return false;
    for (std::string_view word :
         {"while", "for", "do", "eval", "Function", "constructor", "callee", "caller", "RegExp",
          "get", "set", "with", "this", "arguments", "repeat", "pow", "Array"}) {
        if (wordCount(script, word) > 0)
            return false;
    }
    if (wordCount(script, "function") > 1 || wordCount(script, "FindProxyForURL") > 1)
        return false;
    std::size_t digits = 0;
    for (std::size_t i = 0; i < script.size(); ++i) {
        char c = script[i];
        digits = std::isdigit(static_cast<unsigned char>(c)) ? digits + 1 : 0;
        if (digits > 3)
            return false;
        if (i > 0 && std::isdigit(static_cast<unsigned char>(script[i - 1])) &&
            (c == 'e' || c == 'E' || c == 'x' || c == 'X'))
            return false;
    }
    return true;
}

// What a shell expression means, worked out the slow way over every split.
bool referenceMatches(std::string_view text, std::string_view pattern) {
    std::vector<std::vector<char>> memo(text.size() + 1, std::vector<char>(pattern.size() + 1, -1));
    auto sequence = [&](std::size_t t) {
        std::size_t length = 1;
        while (t + length < text.size() &&
               (static_cast<unsigned char>(text[t + length]) & 0xC0) == 0x80)
            ++length;
        return length;
    };
    std::function<bool(std::size_t, std::size_t)> match = [&](std::size_t t, std::size_t p) {
        char& known = memo[t][p];
        if (known >= 0)
            return known == 1;
        bool result;
        if (p == pattern.size())
            result = t == text.size();
        else if (pattern[p] == '*')
            result = match(t, p + 1) || (t < text.size() && match(t + sequence(t), p));
        else if (t == text.size())
            result = false;
        else if (pattern[p] == '?')
            result = match(t + sequence(t), p + 1);
        else
            result = pattern[p] == text[t] && match(t + 1, p + 1);
        known = result ? 1 : 0;
        return result;
    };
    return match(0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos)
        return 0;
    const std::string url(input.substr(0, lineEnd));
    const std::string_view script = input.substr(lineEnd + 1);

    const std::string_view pattern = script.substr(0, referenceLimit);
    if (url.size() <= referenceLimit) {
        check(pindle::pac::shellExpressionMatches(url, pattern) == referenceMatches(url, pattern));
    }

    if (!onlyRunsBriefly(script))
        return 0;
    auto parsed = pindle::platform::URL::fromString(url);
    const std::string host = parsed ? parsed->host().value_or("") : std::string();
    if (host.find('\n') != std::string::npos)
        return 0;
    std::string answer;
    auto outcome = pindle::pac::evaluate(url + "\n" + host + "\n" + std::string(script), answer,
                                         resolveLiteral, fatal);
    if (outcome != pindle::pac::Outcome::answered)
        return 0;
    for (const auto& proxy : pindle::platform::ProxyAutoConfiguration::parseAnswer(answer)) {
        using Type = pindle::platform::ProxySettings::Proxy::Type;
        if (proxy.type == Type::none)
            continue;
        check(!proxy.host.empty());
        check(!proxy.port || (*proxy.port > 0 && *proxy.port <= 65535));
    }
    return 0;
}
