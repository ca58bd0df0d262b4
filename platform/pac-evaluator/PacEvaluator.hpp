// PacEvaluator: runs one proxy auto-configuration script on its input, in the calling process.
// pindle-pac-evaluator wraps it in a process of its own (see platform::ProxyAutoConfiguration),
// which is what bounds a script's time; here only its memory is bounded (memoryBudget).
//
// Input: the URL, a newline, the host, a newline, then the script. The script runs with the PAC
// helper functions; dnsResolve() and isResolvable() ask `resolve`, so that a caller can keep
// name lookups off the network.
//
// Thread-safety: each call has an engine of its own; calls may run on several threads at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::pac {

inline constexpr std::size_t maximumInput = 1u << 20;
inline constexpr std::size_t memoryBudget = 64u << 20;

enum class Outcome {
    answered = 0,      // `answer` holds what FindProxyForURL returned, as text
    scriptFailed = 1,  // no FindProxyForURL, or it threw (`answer` holds the message)
    refused = 2,       // the input is too large or malformed, or the engine ran out of memory
};

// The first IPv4 address of `host` as text, or nothing.
using Resolver = std::optional<std::string> (*)(const char* host);

// Called when the engine meets an error it cannot recover from; must not return.
using FatalHandler = void (*)(const char* message);

Outcome evaluate(std::string_view input, std::string& answer, Resolver resolve, FatalHandler fatal);

// shExpMatch: `text` against a shell expression, where "*" stands for any run of characters
// and "?" for any one character (a whole UTF-8 sequence); everything else stands for itself.
// Time grows with the product of the two lengths at most.
bool shellExpressionMatches(std::string_view text, std::string_view pattern);

}  // namespace pindle::pac
