#include "PindleCore/api/private/PNLiveNotificationsLink.hpp"

#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle {

namespace {

// A reply may still complete a start while other statics are torn down at exit.
PNInstalledFunction<void()>& installedLink() {
    static auto* slot = new PNInstalledFunction<void()>;
    return *slot;
}

}  // namespace

void PNLiveNotificationsLink::install(Connection connection) {
    installedLink().install(std::move(connection));
}

void PNLiveNotificationsLink::connect() {
    installedLink().call();
}

}  // namespace pindle
