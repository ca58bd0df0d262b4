// Device: what the SDK asks of the device it runs on: the system version (configurable by
// hosts and tests; "10.3" by default), the machine's hardware name, and the physical
// orientation, whose changes hosts and tests report with simulateOrientationChange().
//
// Thread-safety: all operations are safe from any thread. The orientation notification is
// posted on the default notification center, synchronously on the thread that reports the
// change, with no lock held.
#pragma once

#include <mutex>
#include <string>

namespace pindle::platform {

class Device {
  public:
    enum class Orientation {
        unknown = 0,
        portrait = 1,
        portraitUpsideDown = 2,
        landscapeLeft = 3,
        landscapeRight = 4,
        faceUp = 5,
        faceDown = 6,
    };
    static constexpr const char* orientationDidChangeNotification =
        "UIDeviceOrientationDidChangeNotification";
    static constexpr const char* defaultSystemVersion = "10.3";

    static Device& current();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::string systemVersion() const;
    void setSystemVersion(std::string version);
    // The hardware name uname(2) reports (its machine field), such as "x86_64".
    std::string machine() const;

    Orientation orientation() const;
    // Records the new orientation and posts orientationDidChangeNotification.
    void simulateOrientationChange(Orientation orientation);

  private:
    Device() = default;

    mutable std::mutex mutex_;
    std::string systemVersion_ = defaultSystemVersion;  // guarded by mutex_
    Orientation orientation_ = Orientation::portrait;   // guarded by mutex_
};

}  // namespace pindle::platform
