#include "PindleCore/legacy/PUIKitExtensions.hpp"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/app/Application.hpp"
#include "platform/app/Device.hpp"
#include "platform/app/Screen.hpp"
#include "platform/foundation/MethodRegistry.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Coder.hpp"
#include "platform/ui/GradientLayer.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/Keyboard.hpp"
#include "platform/ui/TextInput.hpp"

namespace pindle::legacy {

namespace ui = platform::ui;
using platform::Keyboard;
using platform::Notification;

namespace {

struct KeyboardInfo {
    double height = 0;
    double duration = 0;
};

KeyboardInfo keyboardInfo(const Notification& note) {
    ui::Coder coder(note.userInfo);
    KeyboardInfo info;
    if (auto frame = coder.decodeRect(Keyboard::frameBeginUserInfoKey))
        info.height = frame->height();
    info.duration = coder.decodeDouble(Keyboard::animationDurationUserInfoKey).value_or(0);
    return info;
}

// The avoidance attached to each controller, by the controller's address; an entry counts
// only while its avoidance lives and still serves that controller.
struct Attachments {
    std::mutex mutex;
    std::map<const ui::ViewController*, std::weak_ptr<PKeyboardAvoidance>>
        byController;  // guarded by mutex
};

Attachments& attachments() {
    static auto* shared = new Attachments;  // never destroyed: controllers may outlive exit
    return *shared;
}

void categoryViewWillAppear(ui::ViewController& controller, bool animated) {
    // After the exchange this slot holds the controller's original will-appear step.
    const auto original =
        platform::MethodRegistry::shared()
            .implementation<ui::ViewController::WillAppearImplementation>(
                ui::ViewController::slotClassName, PKeyboardAvoidance::categoryWillAppearSelector);
    if (original && *original)
        (*original)(controller, animated);
    if (const auto avoidance = PKeyboardAvoidance::forController(controller))
        avoidance->viewWillAppear();
    else
        controller.view()->layoutIfNeeded();
}

// Installs the exchange when the library is loaded, before any host code runs.
[[maybe_unused]] const bool installedAtLoad =
    (PKeyboardAvoidance::installWillAppearExtension(), true);

}  // namespace

void PKeyboardAvoidance::installWillAppearExtension() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::ViewController::registerAppearanceSlots();
        auto& registry = platform::MethodRegistry::shared();
        registry.registerSlot(ui::ViewController::slotClassName, categoryWillAppearSelector,
                              ui::ViewController::WillAppearImplementation(categoryViewWillAppear));
        registry.exchange(ui::ViewController::slotClassName, ui::ViewController::willAppearSelector,
                          ui::ViewController::slotClassName, categoryWillAppearSelector);
    });
}

void toggleAlpha(ui::View& view, bool animated) {
    const double target = 1 - view.alpha();
    if (!animated) {
        view.setAlpha(target);
        return;
    }
    auto weakView = std::static_pointer_cast<ui::View>(view.shared_from_this());
    ui::View::animate(
        0.3, 0.1, ui::View::AnimationOptions::layoutSubviews,
        [weakView, target] { weakView->setAlpha(target); }, [](bool) {});
}

void applyHorizontalGradientMask(ui::View& view, double leftOffset, double rightOffset) {
    const ui::Rect bounds = view.bounds();
    const double width = bounds.width();
    auto mask = ui::GradientLayer::make();
    mask->setFrame(ui::Rect::make(0, 0, width, bounds.height()));
    const auto clearBlack = ui::Color::make(0, 0, 0, 0);
    mask->setColors({clearBlack, ui::Color::black(), ui::Color::black(), clearBlack});
    if (width > 0)
        mask->setLocations({0, leftOffset / width, (width - rightOffset) / width, 1});
    mask->setStartPoint({0, 0.5});
    mask->setEndPoint({1, 0.5});
    view.layer()->setMask(mask);
}

std::shared_ptr<PKeyboardAvoidance> PKeyboardAvoidance::make(
    const ui::ViewControllerPtr& controller) {
    auto avoidance = std::make_shared<PKeyboardAvoidance>(controller);
    if (controller) {
        auto& attached = attachments();
        std::lock_guard lock(attached.mutex);
        attached.byController[controller.get()] = avoidance;
    }
    return avoidance;
}

std::shared_ptr<PKeyboardAvoidance> PKeyboardAvoidance::forController(
    const ui::ViewController& controller) {
    std::shared_ptr<PKeyboardAvoidance> avoidance;
    {
        auto& attached = attachments();
        std::lock_guard lock(attached.mutex);
        const auto found = attached.byController.find(&controller);
        if (found != attached.byController.end())
            avoidance = found->second.lock();
    }
    // A controller made at the address of a dead one is not the avoidance's.
    if (avoidance && avoidance->controller_.lock().get() != &controller)
        return nullptr;
    return avoidance;
}

PKeyboardAvoidance::~PKeyboardAvoidance() {
    stopObserving();
    auto& attached = attachments();
    std::lock_guard lock(attached.mutex);
    std::erase_if(attached.byController, [](const auto& entry) { return entry.second.expired(); });
}

void PKeyboardAvoidance::stopObserving() {
    for (auto& registration : registrations_)
        platform::NotificationCenter::defaultCenter().removeObserver(registration);
    registrations_.clear();
}

void PKeyboardAvoidance::viewWillAppear() {
    oldWidthScroll_ = -1;
    if (auto controller = controller_.lock())
        controller->view()->layoutIfNeeded();
    didChangeOrientation();
}

void PKeyboardAvoidance::didChangeOrientation() {
    if (auto scroll = mainScroll())
        setContentSizeForMainScreen(*scroll);
}

void PKeyboardAvoidance::setMainScroll(const ui::ScrollViewPtr& scroll) {
    mainScroll_ = scroll;
    if (scroll)
        setContentSizeForMainScreen(*scroll);
    stopObserving();
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<PKeyboardAvoidance> weakSelf = weak_from_this();
    using Handler = std::function<void(PKeyboardAvoidance&, const Notification&)>;
    auto observe = [&](const char* name, Handler handler) {
        registrations_.push_back(center.addObserverForName(
            std::string(name), nullptr, nullptr,
            platform::weakly(this, [handler](PKeyboardAvoidance& self, const Notification& note) {
                handler(self, note);
            })));
    };
    observe(Keyboard::willShowNotification, &PKeyboardAvoidance::keyboardWillShow);
    observe(Keyboard::willHideNotification, &PKeyboardAvoidance::keyboardWillHide);
    observe(Keyboard::didShowNotification, &PKeyboardAvoidance::keyboardWasShown);
    observe(platform::Device::orientationDidChangeNotification,
            [](PKeyboardAvoidance& self, const Notification&) { self.didChangeOrientation(); });
    if (!tap_) {
        tap_ = std::make_shared<ui::TapGestureRecognizer>(platform::weakly(
            this, [](PKeyboardAvoidance& self, ui::GestureRecognizer&) { self.tapGestureMain(); }));
        tap_->setDelegate(weakSelf);
    }
}

void PKeyboardAvoidance::setTap(std::shared_ptr<ui::TapGestureRecognizer> tap) {
    if (tap == tap_)
        return;
    auto controller = controller_.lock();
    const ui::ViewPtr attachedTo = tap_ ? tap_->view() : nullptr;
    const bool onView = controller && attachedTo && attachedTo == controller->view();
    if (onView)
        attachedTo->removeGestureRecognizer(tap_);
    tap_ = std::move(tap);
    if (onView)
        attachedTo->addGestureRecognizer(tap_);
}

void PKeyboardAvoidance::setContentSizeForMainScreen(ui::ScrollView& scroll) {
    double contentHeight = 0;
    for (const auto& subview : scroll.subviews()) {
        if (!std::dynamic_pointer_cast<ui::ImageView>(subview))
            contentHeight = std::max(contentHeight, subview->frame().maxY());
    }
    scroll.setContentSize(platform::Size{scroll.frame().width(), contentHeight});
    double gap = 0;
    auto view = std::static_pointer_cast<ui::View>(scroll.shared_from_this());
    while (auto parent = view->superview()) {
        gap += parent->bounds().height() - view->frame().maxY();
        view = parent;
    }
    gap += platform::Screen::main().bounds().height() - view->frame().maxY();
    decScroll_ = static_cast<float>(gap);
}

void PKeyboardAvoidance::keyboardWillShow(const Notification& note) {
    auto constraint = constraint_.lock();
    auto controller = controller_.lock();
    if (!constraint || !controller)
        return;
    const KeyboardInfo keyboard = keyboardInfo(note);
    auto view = controller->view();
    view->layoutIfNeeded();
    if (oldWidthScroll_ < 0)
        oldWidthScroll_ = static_cast<int>(constraint->constant());
    constraint->setConstant(keyboard.height - decScroll_ + oldWidthScroll_);
    ui::View::animate(keyboard.duration, [view] { view->layoutIfNeeded(); });
    view->addGestureRecognizer(tap_);
}

void PKeyboardAvoidance::keyboardWillHide(const Notification& note) {
    auto constraint = constraint_.lock();
    auto controller = controller_.lock();
    if (!constraint || !controller)
        return;
    const KeyboardInfo keyboard = keyboardInfo(note);
    auto view = controller->view();
    view->layoutIfNeeded();
    constraint->setConstant(oldWidthScroll_);
    oldWidthScroll_ = -1;
    ui::View::animate(keyboard.duration, [view] { view->layoutIfNeeded(); });
    if (tap_)
        view->removeGestureRecognizer(tap_);
}

void PKeyboardAvoidance::keyboardWasShown(const Notification& note) {
    auto scroll = mainScroll();
    auto controller = controller_.lock();
    if (!scroll || !controller)
        return;
    auto found = findFirstResponse(*scroll, 0);
    if (!found || !std::dynamic_pointer_cast<ui::TextInput>(found->first))
        return;
    const auto& [responder, y] = *found;
    const ui::Rect responderFrame = responder->frame();
    ui::Rect visible = controller->view()->frame();
    visible.size.height -= keyboardInfo(note).height;
    if (!visible.contains(ui::Point{responderFrame.minX(), y})) {
        scroll->scrollRectToVisible(
            ui::Rect::make(responderFrame.minX(), y, responderFrame.width(),
                           std::min(responderFrame.height() + scrollMarginHeight, maxScrollHeight)),
            false);
    }
}

std::optional<std::pair<ui::ViewPtr, double>> PKeyboardAvoidance::findFirstResponse(
    const ui::View& view, double fullY) {
    for (const auto& subview : view.subviews()) {
        if (subview->isFirstResponder())
            return std::pair{subview, subview->frame().minY() + fullY};
        if (!subview->subviews().empty()) {
            if (auto found = findFirstResponse(*subview, fullY + subview->frame().minY()))
                return found;
        }
    }
    return std::nullopt;
}

void PKeyboardAvoidance::tapGestureMain() {
    platform::Application::shared().endEditing();
}

}  // namespace pindle::legacy
