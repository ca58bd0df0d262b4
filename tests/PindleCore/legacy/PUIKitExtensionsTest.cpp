// Keyboard avoidance and the view effects: the bottom constraint follows the keyboard and
// comes back, the field being edited is scrolled into view, a tap ends editing; the alpha
// toggle and the gradient mask.
#include <gtest/gtest.h>

#include "PindleCore/legacy/PUIKitExtensions.hpp"
#include "platform/app/Application.hpp"
#include "platform/ui/GradientLayer.hpp"
#include "platform/ui/Keyboard.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TouchSynthesizer.hpp"
#include "platform/ui/Window.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

namespace ui = platform::ui;
using platform::Keyboard;

class CountingController : public ui::ViewController {
  public:
    void viewWillAppear(bool) override { ++willAppear; }
    int willAppear = 0;
};

class PUIKitExtensionsTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        window->setRootViewController(controller);
        window->makeKeyAndVisible();
        auto view = controller->view();
        // A scroll view 40 points above the window's bottom, held there by a constraint of
        // constant 40 from its bottom to the view's.
        scroll->setTranslatesAutoresizingMaskIntoConstraints(false);
        view->addSubview(scroll);
        bottom = view->bottomAnchor().constraint(scroll->bottomAnchor(), 40);
        ui::LayoutConstraint::activate(
            {scroll->topAnchor().constraint(view->topAnchor(), 0),
             scroll->leadingAnchor().constraint(view->leadingAnchor(), 0),
             scroll->trailingAnchor().constraint(view->trailingAnchor(), 0), bottom});
        view->layoutIfNeeded();
        field->setFrame(ui::Rect::make(10, 500, 200, 40));
        scroll->addSubview(field);
        avoidance->setConstrantBottomMainScroll(bottom);
        avoidance->setMainScroll(scroll);
    }

    std::shared_ptr<ui::Window> window = ui::Window::make(ui::Rect::make(0, 0, 375, 667));
    std::shared_ptr<CountingController> controller = std::make_shared<CountingController>();
    ui::ScrollViewPtr scroll = ui::ScrollView::make();
    std::shared_ptr<ui::TextField> field = ui::TextField::make();
    ui::LayoutConstraintPtr bottom;
    std::shared_ptr<PKeyboardAvoidance> avoidance = PKeyboardAvoidance::make(controller);
};

TEST_F(PUIKitExtensionsTest, TheBottomConstraintRisesWithTheKeyboardAndComesBack) {
    EXPECT_FLOAT_EQ(avoidance->decScroll(), 40);
    EXPECT_EQ(scroll->contentSize(), (platform::Size{375, 540}));
    const auto keyboard = ui::Rect::make(0, 451, 375, 216);
    field->becomeFirstResponder();
    Keyboard::simulateShow(keyboard, 0.25);
    EXPECT_EQ(avoidance->oldWidthScroll(), 40);
    EXPECT_DOUBLE_EQ(bottom->constant(), 216 - 40 + 40);
    EXPECT_DOUBLE_EQ(scroll->frame().maxY(), 667 - 216);
    // The field's top (500) is below the view less the keyboard (451): scrolled to it, with
    // a height of at most 35.
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 500 + 35 - 451);
    auto recognizers = controller->view()->gestureRecognizers();
    EXPECT_NE(std::find(recognizers.begin(), recognizers.end(), avoidance->tap()),
              recognizers.end());

    Keyboard::simulateHide(keyboard, 0.25);
    EXPECT_DOUBLE_EQ(bottom->constant(), 40);
    EXPECT_EQ(avoidance->oldWidthScroll(), -1);
    EXPECT_TRUE(controller->view()->gestureRecognizers().empty());
}

// Nothing in this test installs the will-appear exchange: loading the library did.
TEST_F(PUIKitExtensionsTest, AppearingRunsTheControllersOwnStepThenItsKeyboardAvoidance) {
    EXPECT_EQ(controller->willAppear, 1);
    field->becomeFirstResponder();
    Keyboard::simulateShow(ui::Rect::make(0, 451, 375, 216), 0.25);
    ASSERT_EQ(avoidance->oldWidthScroll(), 40);

    // The form grows while another controller is shown; coming back measures it again and
    // forgets the resting constant saved for the keyboard.
    auto lower = ui::TextField::make();
    lower->setFrame(ui::Rect::make(10, 700, 200, 40));
    scroll->addSubview(lower);
    auto other = std::make_shared<CountingController>();
    window->setRootViewController(other);
    window->setRootViewController(controller);
    EXPECT_EQ(other->willAppear, 1) << "a controller without an avoidance keeps its own step";
    EXPECT_EQ(controller->willAppear, 2);
    EXPECT_EQ(avoidance->oldWidthScroll(), -1);
    EXPECT_EQ(scroll->contentSize(), (platform::Size{375, 740}));

    // Attached weakly: once the host lets go, the controller has none.
    EXPECT_EQ(PKeyboardAvoidance::forController(*controller), avoidance);
    std::weak_ptr<PKeyboardAvoidance> released = avoidance;
    avoidance.reset();
    EXPECT_TRUE(released.expired());
    EXPECT_FALSE(PKeyboardAvoidance::forController(*controller));
}

// What a host sets is what the next keyboard works from: the room below the scroll view, the
// saved resting constant, and the recognizer put on the view.
TEST_F(PUIKitExtensionsTest, SetKeyboardStateIsWhatTheKeyboardWorksFrom) {
    EXPECT_EQ(avoidance->constrantBottomMainScroll(), bottom);
    const auto keyboard = ui::Rect::make(0, 451, 375, 216);
    field->becomeFirstResponder();
    avoidance->setDecScroll(100);
    avoidance->setOldWidthScroll(10);
    Keyboard::simulateShow(keyboard, 0.25);
    EXPECT_DOUBLE_EQ(bottom->constant(), 216 - 100 + 10);
    EXPECT_EQ(avoidance->oldWidthScroll(), 10);

    // Replaced while the keyboard is up: the new recognizer takes the old one's place.
    const auto oldTap = avoidance->tap();
    auto tapped = std::make_shared<int>(0);
    auto ownTap =
        std::make_shared<ui::TapGestureRecognizer>([tapped](ui::GestureRecognizer&) { ++*tapped; });
    avoidance->setTap(ownTap);
    EXPECT_EQ(avoidance->tap(), ownTap);
    EXPECT_EQ(controller->view()->gestureRecognizers(),
              std::vector<std::shared_ptr<ui::GestureRecognizer>>{ownTap});
    ui::TouchSynthesizer::tap(controller->view(), ui::Point{300, 20});
    EXPECT_EQ(*tapped, 1);
    EXPECT_TRUE(field->isFirstResponder()) << "the old recognizer is off the view";

    Keyboard::simulateHide(keyboard, 0.25);
    EXPECT_DOUBLE_EQ(bottom->constant(), 10);
    EXPECT_TRUE(controller->view()->gestureRecognizers().empty());
    // Measuring the scroll view again replaces a set room: the 10 points the constraint now
    // leaves below it.
    avoidance->didChangeOrientation();
    EXPECT_FLOAT_EQ(avoidance->decScroll(), 10);
    EXPECT_NE(oldTap, ownTap);
}

TEST_F(PUIKitExtensionsTest, ATapOnTheViewEndsEditing) {
    field->becomeFirstResponder();
    Keyboard::simulateShow(ui::Rect::make(0, 451, 375, 216));
    ui::TouchSynthesizer::tap(controller->view(), ui::Point{300, 20});
    EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(PUIKitExtensionsTest, TheAlphaToggleAnimatesAndTheMaskRampsAcrossTheWidth) {
    auto view = ui::View::make(ui::Rect::make(0, 0, 200, 10));
    toggleAlpha(*view);
    EXPECT_DOUBLE_EQ(view->alpha(), 0);
    EXPECT_EQ(ui::View::lastAnimationOptions(), ui::View::AnimationOptions::layoutSubviews);
    toggleAlpha(*view, false);
    EXPECT_DOUBLE_EQ(view->alpha(), 1);

    applyHorizontalGradientMask(*view, 20, 50);
    auto mask = std::dynamic_pointer_cast<ui::GradientLayer>(view->layer()->mask());
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->locations(), (std::vector<double>{0, 0.1, 0.75, 1}));
    EXPECT_EQ(mask->frame(), view->bounds());
    EXPECT_DOUBLE_EQ(mask->colorAt(0).alpha, 0);
    EXPECT_DOUBLE_EQ(mask->colorAt(0.5).alpha, 1);
}

}  // namespace
}  // namespace pindle::legacy
