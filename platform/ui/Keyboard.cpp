#include "platform/ui/Keyboard.hpp"

#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/Coder.hpp"

namespace pindle::platform {
namespace {

void postPair(const char* first, const char* second, const ui::Rect& frame, double duration) {
    Dictionary info{{Keyboard::frameBeginUserInfoKey, ui::Coder::encodeRect(frame)},
                    {Keyboard::frameEndUserInfoKey, ui::Coder::encodeRect(frame)},
                    {Keyboard::animationDurationUserInfoKey, duration}};
    auto& center = NotificationCenter::defaultCenter();
    center.post(first, {}, info);
    center.post(second, {}, info);
}

}  // namespace

void Keyboard::simulateShow(const ui::Rect& frame, double duration) {
    postPair(willShowNotification, didShowNotification, frame, duration);
}

void Keyboard::simulateHide(const ui::Rect& frame, double duration) {
    postPair(willHideNotification, didHideNotification, frame, duration);
}

}  // namespace pindle::platform
