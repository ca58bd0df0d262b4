// PNReachability: a class of the API with no state and no operations besides creation;
// nothing in the SDK makes one. Whether the network can be reached is the business of
// Reachability (the monitor) and of the legacy pindle::legacy::Reachability.
//
// Thread-safety: it holds nothing.
#pragma once

#include "platform/foundation/Object.hpp"

namespace pindle {

class PNReachability : public platform::Object {
  public:
    PNReachability() = default;
};

}  // namespace pindle
