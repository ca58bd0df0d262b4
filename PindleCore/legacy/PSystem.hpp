// PSystem: the entry point of the legacy classes: start-up, the application identifier, the
// push-notification device token, and the shared preferences and service locator.
//
// Every operation that takes an object argument acts only for the internal-caller token
// (PNTokenObject); with any other argument it does nothing and a getter answers nothing.
//
// launch() brings up the bandwidth service, the location service (in the background, on a
// global queue: the desktop's location service may be slow to answer), runs the legacy
// logging set-up and, one second later on the main queue, restarts unfinished uploads. launch() and
// resetCurrentState() calls by the token are counted, so their callers can be checked.
//
// Thread-safety: safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "PindleCore/legacy/PPreferences.hpp"
#include "PindleCore/legacy/PServiceLocator.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::legacy {

class PSystem {
  public:
    using Caller = std::shared_ptr<platform::Object>;

    PSystem() = delete;

    static void launch(const Caller& fromObject);
    // Clears the device token; nothing else is reset.
    static void resetCurrentState(const Caller& fromObject);

    static void setAppID(const std::optional<std::string>& appID, const Caller& fromObject);
    static std::optional<std::string> appID(const Caller& fromObject);
    static void registerAPNTokenString(const std::optional<std::string>& token,
                                       const Caller& fromObject);

    static PServiceLocator& serviceLocator();
    static PPreferences& preferences();
    // Stores the token's bytes as lower-case hexadecimal text.
    static void registerAPNToken(const platform::Data& token);
    static std::optional<std::string> registeredToken();

    static int launchCount();
    static int resetCount();
};

}  // namespace pindle::legacy
