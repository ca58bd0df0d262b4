// Notification: what the notification center delivers: a name, an object (whatever the
// poster attaches: usually the sender as an object reference, sometimes a dictionary or a
// string) and a user-info dictionary.
//
// Thread-safety: a plain value type.
#pragma once

#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

struct Notification {
    std::string name;
    Value object;
    Dictionary userInfo;
};

}  // namespace pindle::platform
