#include "platform/app/private/FirstResponder.hpp"

#include "platform/foundation/private/InstalledFunction.hpp"

namespace pindle::platform {

namespace {

// Never destroyed: editing may end while other statics are torn down at exit.
InstalledFunction<bool()>& installed() {
    static auto* function = new InstalledFunction<bool()>([] { return false; });
    return *function;
}

}  // namespace

void FirstResponder::install(Resign resign) {
    installed().install(std::move(resign));
}

bool FirstResponder::resign() {
    return installed()();
}

}  // namespace pindle::platform
