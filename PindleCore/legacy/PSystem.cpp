#include "PindleCore/legacy/PSystem.hpp"

#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNTokenObject.hpp"

namespace pindle::legacy {

namespace {
std::atomic<int> launches{0};
std::atomic<int> resets{0};
}  // namespace

void PSystem::launch(const std::shared_ptr<platform::Object>& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    ++launches;
}

void PSystem::resetCurrentState(const std::shared_ptr<platform::Object>& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    ++resets;
}

int PSystem::launchCount() {
    return launches.load();
}
int PSystem::resetCount() {
    return resets.load();
}

}  // namespace pindle::legacy
