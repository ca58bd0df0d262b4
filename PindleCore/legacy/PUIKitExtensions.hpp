// PUIKitExtensions: small view effects of the legacy API (an alpha toggle, a horizontal
// gradient mask) and keyboard avoidance for a controller whose form sits in a scroll view.
//
// Keyboard avoidance (PKeyboardAvoidance, one per controller): given the scroll view and
// the constraint that holds its bottom, it moves that constraint up by the keyboard's
// height less the room already below the scroll view while the keyboard is up, scrolls the
// text field being edited into view, and lets a tap anywhere end editing.
//
// When the library loads it exchanges every view controller's will-appear step (the
// ViewController slot) for categoryWillAppearSelector's: the controller's own will-appear
// runs first, then the viewWillAppear() of the avoidance that make() attached to the
// controller (while that avoidance lives); a controller without one only has its view laid
// out. didChangeOrientation() is called on the device's orientation changes.
//
// Thread-safety: main thread only, like the views it works on. Notification handlers run
// on the posting thread (the main thread for the keyboard).
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/ScrollView.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::legacy {

// Sets the alpha to 1 minus the current one; animated over 0.3 s after 0.1 s.
void toggleAlpha(platform::ui::View& view, bool animated = true);
// Masks the view's layer with a horizontal ramp: clear at the edges, opaque from
// `leftOffset` points in to `rightOffset` points from the right.
void applyHorizontalGradientMask(platform::ui::View& view, double leftOffset, double rightOffset);

class PKeyboardAvoidance : public platform::ui::GestureRecognizerDelegate,
                           public std::enable_shared_from_this<PKeyboardAvoidance> {
  public:
    static constexpr double scrollMarginHeight = 4;
    static constexpr double maxScrollHeight = 35;

    static constexpr const char* categoryWillAppearSelector = "category_viewWillAppear:";

    // Holds the controller weakly and attaches itself to it (weakly too: the caller owns it).
    static std::shared_ptr<PKeyboardAvoidance> make(
        const platform::ui::ViewControllerPtr& controller);
    // The living avoidance make() last attached to the controller, if any.
    static std::shared_ptr<PKeyboardAvoidance> forController(
        const platform::ui::ViewController& controller);
    // Exchanges the will-appear step as described above, once per process; the library does
    // it when it loads.
    static void installWillAppearExtension();
    explicit PKeyboardAvoidance(std::weak_ptr<platform::ui::ViewController> controller)
        : controller_(std::move(controller)) {}
    ~PKeyboardAvoidance() override;
    PKeyboardAvoidance(const PKeyboardAvoidance&) = delete;
    PKeyboardAvoidance& operator=(const PKeyboardAvoidance&) = delete;

    // Forgets a saved resting constant, lays the view out and measures the scroll view again.
    void viewWillAppear();
    void didChangeOrientation();

    // Stores the scroll view (weakly), measures it and starts listening to the keyboard.
    void setMainScroll(const platform::ui::ScrollViewPtr& scroll);
    platform::ui::ScrollViewPtr mainScroll() const { return mainScroll_.lock(); }
    // The constraint that holds the scroll view's bottom; held weakly.
    void setConstrantBottomMainScroll(const platform::ui::LayoutConstraintPtr& constraint) {
        constraint_ = constraint;
    }
    platform::ui::LayoutConstraintPtr constrantBottomMainScroll() const {
        return constraint_.lock();
    }
    // The room below the scroll view down to the screen's bottom, which the keyboard's height
    // is reduced by. A set value lasts until the scroll view is measured again (setMainScroll,
    // appearing, a turn of the device).
    float decScroll() const { return decScroll_; }
    void setDecScroll(float room) { decScroll_ = room; }
    // The constraint's resting constant, saved while the keyboard is up; -1 when none is
    // saved. A keyboard that comes while one is saved moves the constraint from it.
    int oldWidthScroll() const { return oldWidthScroll_; }
    void setOldWidthScroll(int constant) { oldWidthScroll_ = constant; }
    // The recognizer that ends editing, on the controller's view while the keyboard is up.
    // setMainScroll makes one when none is set. Setting another while the old one is on the
    // view puts the new one there in its place.
    const std::shared_ptr<platform::ui::TapGestureRecognizer>& tap() const { return tap_; }
    void setTap(std::shared_ptr<platform::ui::TapGestureRecognizer> tap);

    void keyboardWillShow(const platform::Notification& note);
    void keyboardWillHide(const platform::Notification& note);
    void keyboardWasShown(const platform::Notification& note);
    // The first subview (depth first, in order) that is first responder, with its y plus
    // the offsets of the views it sits in.
    static std::optional<std::pair<platform::ui::ViewPtr, double>> findFirstResponse(
        const platform::ui::View& view, double fullY);
    void tapGestureMain();
    // Content size from the subviews that are not image views; decScroll from the gaps
    // below the scroll view and its ancestors down to the screen's bottom.
    void setContentSizeForMainScreen(platform::ui::ScrollView& scroll);

  private:
    void stopObserving();

    const std::weak_ptr<platform::ui::ViewController> controller_;
    std::weak_ptr<platform::ui::ScrollView> mainScroll_;
    std::weak_ptr<platform::ui::LayoutConstraint> constraint_;
    std::shared_ptr<platform::ui::TapGestureRecognizer> tap_;
    float decScroll_ = 0;
    int oldWidthScroll_ = -1;
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations_;
};

}  // namespace pindle::legacy
