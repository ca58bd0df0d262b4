#include "platform/foundation/Object.hpp"

#include <cstdio>
#include <functional>
#include <typeinfo>

namespace pindle::platform {

std::size_t Object::hash() const {
    return std::hash<const void*>{}(this);
}

std::string Object::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<") + typeid(*this).name() + ": " + address + ">";
}

}  // namespace pindle::platform
