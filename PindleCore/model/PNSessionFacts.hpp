// What the model layer reads of the current session: its application identifier, its two
// tokens and whether it has started. The session installs the provider when it is created;
// until then the answers are "none" and "not started".
//
// Thread-safety: safe from any thread; the provider is called without any lock held.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pindle {

struct PNSessionFacts {
    std::optional<std::string> appID;
    std::optional<std::string> sessionToken;
    std::optional<std::string> apiToken;
    bool started = false;
};

PNSessionFacts currentSessionFacts();
std::optional<std::string> currentSessionAppID();

// Installs the function that answers currentSessionFacts().
void setSessionFactsProvider(std::function<PNSessionFacts()> provider);

}  // namespace pindle
