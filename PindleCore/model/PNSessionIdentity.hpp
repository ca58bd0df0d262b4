// The one fact about the session that the model layer needs: the application identifier
// of the current session, shown in the authentication-failure message.
//
// The session registers a provider when it is created; until then there is no identifier.
//
// Thread-safety: safe from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pindle {

std::optional<std::string> currentSessionAppID();

// Installs the function that answers currentSessionAppID(). Called once by the session.
void setSessionAppIDProvider(std::function<std::optional<std::string>()> provider);

}  // namespace pindle
