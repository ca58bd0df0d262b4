#include "PindleCore/model/private/PNSessionContext.hpp"

#include <mutex>

namespace pindle {

namespace {

class NoSession final : public PNSessionContext {
  public:
    std::optional<std::string> appID() const override { return std::nullopt; }
    bool started() const override { return false; }
    std::optional<std::string> sessionToken() const override { return std::nullopt; }
    std::optional<std::string> apiToken() const override { return std::nullopt; }
};

struct Installed {
    std::mutex mutex;
    std::shared_ptr<const PNSessionContext> context;  // guarded by mutex
};

// Never destroyed: errors may be described while other statics are torn down at exit.
Installed& installed() {
    static auto* slot = new Installed{{}, std::make_shared<NoSession>()};
    return *slot;
}

}  // namespace

std::shared_ptr<const PNSessionContext> PNSessionContext::current() {
    Installed& slot = installed();
    std::lock_guard lock(slot.mutex);
    return slot.context;
}

void PNSessionContext::install(std::shared_ptr<const PNSessionContext> context) {
    if (!context)
        return;
    Installed& slot = installed();
    std::lock_guard lock(slot.mutex);
    slot.context = std::move(context);
}

}  // namespace pindle
