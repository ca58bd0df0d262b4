// PSystem: the legacy part's start-up and state reset.
//
// Both operations act only for the internal-caller token. launch() brings up the legacy
// services; resetCurrentState() clears the legacy state host's device token.
//
// launch() runs the legacy logging set-up; the bandwidth and location services and the restart
// of unfinished uploads arrive with the device-services and uploads layers. Each call is
// counted so the session's use of them can be checked.
//
// Thread-safety: safe from any thread.
#pragma once

#include <atomic>
#include <memory>

#include "platform/foundation/Object.hpp"

namespace pindle::legacy {

class PSystem {
  public:
    PSystem() = delete;

    static void launch(const std::shared_ptr<platform::Object>& fromObject);
    static void resetCurrentState(const std::shared_ptr<platform::Object>& fromObject);

    static int launchCount();
    static int resetCount();
};

}  // namespace pindle::legacy
