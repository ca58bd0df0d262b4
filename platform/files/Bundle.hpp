// Bundle: the application's identity and info dictionary, as the host declares them.
//
// On the phone platform these come from the application package; here the host sets them
// at start-up. Until it does, the identifier is the process name (ProcessInfo) and the info
// dictionary is empty. The identifier names the application's home folder (AppContainer) and
// its log files.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class Bundle {
  public:
    Bundle() = delete;

    static constexpr const char* identifierKey = "CFBundleIdentifier";

    // The host-set identifier, else the process name.
    static std::string identifier();
    // Whether the host set one.
    static bool hasIdentifier();
    // Sets the identifier; an empty text goes back to the process name.
    static void setIdentifier(std::string identifier);

    // An entry of the info dictionary; identifierKey answers identifier().
    static std::optional<Value> infoValue(const std::string& key);
    static void setInfoDictionary(Dictionary info);
};

}  // namespace pindle::platform
