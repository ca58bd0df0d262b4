// Keyboard: the on-screen keyboard, which a headless build never shows by itself. Hosts and
// tests report it with simulateShow() and simulateHide(), which post the keyboard
// notifications the interface listens to, with the keyboard's frame and the duration of
// its slide in the user info (frames encoded as Coder::encodeRect gives them).
//
// Thread-safety: all operations are safe from any thread. The notifications are posted on
// the default notification center, synchronously on the calling thread, with no lock held.
#pragma once

#include "platform/foundation/Rect.hpp"

namespace pindle::platform {

class Keyboard {
  public:
    static constexpr const char* willShowNotification = "UIKeyboardWillShowNotification";
    static constexpr const char* didShowNotification = "UIKeyboardDidShowNotification";
    static constexpr const char* willHideNotification = "UIKeyboardWillHideNotification";
    static constexpr const char* didHideNotification = "UIKeyboardDidHideNotification";
    static constexpr const char* frameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
    static constexpr const char* frameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
    static constexpr const char* animationDurationUserInfoKey =
        "UIKeyboardAnimationDurationUserInfoKey";

    // Posts will-show, then did-show, for a keyboard that ends at `frame`.
    static void simulateShow(const ui::Rect& frame, double duration = 0.25);
    // Posts will-hide, then did-hide, for a keyboard leaving `frame`.
    static void simulateHide(const ui::Rect& frame, double duration = 0.25);
};

}  // namespace pindle::platform
