// CaptureDeviceInput: a device as a capture session's input.
//
// Thread-safety: immutable. No callbacks.
#pragma once

#include <memory>

#include "platform/capture/CaptureDevice.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class CaptureDeviceInput;
using CaptureDeviceInputPtr = std::shared_ptr<CaptureDeviceInput>;

class CaptureDeviceInput : public Object {
  public:
    // The platform's code for a device the user has not allowed.
    static constexpr std::int64_t notAuthorizedCode = MediaError::notAuthorized;

    // Null with `error` (when given) for no device, a device the user has not allowed
    // (notAuthorizedCode) or an injected failure.
    static CaptureDeviceInputPtr make(const CaptureDevicePtr& device, Error* error = nullptr);

    struct Private {
        explicit Private() = default;
    };
    CaptureDeviceInput(Private, CaptureDevicePtr device);

    const CaptureDevicePtr& device() const { return device_; }

  private:
    const CaptureDevicePtr device_;
};

}  // namespace pindle::platform
