#include "platform/app/Device.hpp"

#include <sys/utsname.h>

#include "platform/foundation/NotificationCenter.hpp"

namespace pindle::platform {

Device& Device::current() {
    static auto* device = new Device;
    return *device;
}

std::string Device::systemVersion() const {
    std::lock_guard lock(mutex_);
    return systemVersion_;
}

void Device::setSystemVersion(std::string version) {
    std::lock_guard lock(mutex_);
    systemVersion_ = std::move(version);
}

std::string Device::machine() const {
    struct utsname name {};
    if (::uname(&name) != 0)
        return "";
    return name.machine;
}

Device::Orientation Device::orientation() const {
    std::lock_guard lock(mutex_);
    return orientation_;
}

void Device::simulateOrientationChange(Orientation orientation) {
    {
        std::lock_guard lock(mutex_);
        orientation_ = orientation;
    }
    NotificationCenter::defaultCenter().post(orientationDidChangeNotification, {}, Dictionary{});
}

}  // namespace pindle::platform
