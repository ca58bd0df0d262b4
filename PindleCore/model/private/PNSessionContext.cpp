#include "PindleCore/model/private/PNSessionContext.hpp"

#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle {

namespace {

class NoSession final : public PNSessionContext {
  public:
    std::optional<std::string> appID() const override { return std::nullopt; }
    bool started() const override { return false; }
    std::optional<std::string> sessionToken() const override { return std::nullopt; }
    std::optional<std::string> apiToken() const override { return std::nullopt; }
};

// Errors may be described while other statics are torn down at exit.
PNInstalled<PNSessionContext>& installedContext() {
    static auto* slot = new PNInstalled<PNSessionContext>(std::make_shared<NoSession>());
    return *slot;
}

}  // namespace

std::shared_ptr<const PNSessionContext> PNSessionContext::current() {
    return installedContext().get();
}

void PNSessionContext::install(std::shared_ptr<const PNSessionContext> context) {
    installedContext().install(std::move(context));
}

}  // namespace pindle
