// PNSessionContext: what the model reads of the session of the moment: the application id an
// authentication error names, whether requests may go out, and the tokens a rating acts for.
// The session lives above the model, so the model never includes it: the core installs a
// context as the library loads (PNSession.cpp) and the model reads the session through it.
// Before that, during static initialisation only, the model sees a session that has not
// started and holds neither an application id nor a token.
//
// Thread-safety: install() and current() may be called from any thread; current() returns the
// context with no lock held, so the session's own locks are never taken under this one.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace pindle {

class PNSessionContext {
  public:
    virtual ~PNSessionContext() = default;

    virtual std::optional<std::string> appID() const = 0;
    virtual bool started() const = 0;
    virtual std::optional<std::string> sessionToken() const = 0;
    virtual std::optional<std::string> apiToken() const = 0;

    // The installed context, or one that reports nothing when none is installed yet.
    static std::shared_ptr<const PNSessionContext> current();
    static void install(std::shared_ptr<const PNSessionContext> context);
};

}  // namespace pindle
