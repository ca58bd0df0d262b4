// Text entry and what surrounds it: the first responder and endEditing, the keyboard's
// notifications, scrolling a rectangle into view, alerts, gradient masks and image-view
// animation frames on virtual time.
#include <gtest/gtest.h>

#include "platform/app/Application.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/ui/AlertView.hpp"
#include "platform/ui/GradientLayer.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/Keyboard.hpp"
#include "platform/ui/ScrollView.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

class TextEntryAndOverlaysTest : public testing::VirtualTimeTest {};

TEST_F(TextEntryAndOverlaysTest, OneTextViewAtATimeIsFirstResponderUntilEditingEnds) {
    auto field = TextField::make();
    auto text = TextView::make();
    auto plain = View::make();
    EXPECT_FALSE(plain->becomeFirstResponder());
    EXPECT_TRUE(field->becomeFirstResponder());
    EXPECT_TRUE(text->becomeFirstResponder());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_TRUE(text->isFirstResponder());
    EXPECT_TRUE(Application::shared().endEditing());
    EXPECT_FALSE(text->isFirstResponder());
    EXPECT_FALSE(Application::shared().endEditing());
}

TEST_F(TextEntryAndOverlaysTest, TheKeyboardPostsItsFrameAndDurationInOrder) {
    std::vector<std::string> names;
    Rect frame;
    double duration = 0;
    auto& center = NotificationCenter::defaultCenter();
    std::vector<NotificationCenter::RegistrationPtr> registrations;
    for (const char* name : {Keyboard::willShowNotification, Keyboard::didShowNotification,
                             Keyboard::willHideNotification}) {
        registrations.push_back(center.addObserverForName(
            std::string(name), nullptr, nullptr, [&](const Notification& note) {
                names.push_back(note.name);
                Coder coder(note.userInfo);
                frame = *coder.decodeRect(Keyboard::frameBeginUserInfoKey);
                duration = *coder.decodeDouble(Keyboard::animationDurationUserInfoKey);
            }));
    }
    Keyboard::simulateShow(Rect::make(0, 451, 375, 216), 0.4);
    Keyboard::simulateHide(Rect::make(0, 451, 375, 216));
    for (auto& registration : registrations) center.removeObserver(registration);
    EXPECT_EQ(names, (std::vector<std::string>{Keyboard::willShowNotification,
                                               Keyboard::didShowNotification,
                                               Keyboard::willHideNotification}));
    EXPECT_EQ(frame, Rect::make(0, 451, 375, 216));
    EXPECT_DOUBLE_EQ(duration, 0.25);
}

TEST_F(TextEntryAndOverlaysTest, ScrollingMovesTheLeastAndStaysInTheContent) {
    auto scroll = ScrollView::make(Rect::make(0, 0, 100, 100));
    scroll->setContentSize(Size{100, 400});
    scroll->scrollRectToVisible(Rect::make(0, 150, 100, 30), false);
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 80}));
    scroll->scrollRectToVisible(Rect::make(0, 90, 100, 20), true);
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 80}));
    EXPECT_TRUE(scroll->lastScrollAnimated());
    scroll->scrollRectToVisible(Rect::make(0, 390, 100, 50), false);
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 300}));
}

class AlertRecorder : public AlertViewDelegate {
  public:
    void alertViewClickedButtonAtIndex(AlertView&, int index) override { clicked.push_back(index); }
    std::vector<int> clicked;
};

TEST_F(TextEntryAndOverlaysTest, AnAlertShowsUntilAButtonIsClickedOnce) {
    auto recorder = std::make_shared<AlertRecorder>();
    auto alert = AlertView::make("Title", "Message", recorder, "OK", {"Other"});
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"OK", "Other"}));
    alert->show();
    EXPECT_EQ(AlertView::visibleAlerts(), std::vector<AlertViewPtr>{alert});
    EXPECT_FALSE(alert->clickButton(2));
    EXPECT_TRUE(alert->clickButton(1));
    EXPECT_FALSE(alert->clickButton(0));
    EXPECT_EQ(recorder->clicked, std::vector<int>{1});
    EXPECT_TRUE(AlertView::visibleAlerts().empty());
}

TEST_F(TextEntryAndOverlaysTest, AGradientMaskFadesTheViewAtItsEdges) {
    auto view = View::make(Rect::make(0, 0, 100, 10));
    view->setBackgroundColor(Color::whiteColor());
    auto mask = GradientLayer::make();
    mask->setFrame(view->bounds());
    mask->setColors({Color::white(0, 0), Color::black(), Color::black(), Color::white(0, 0)});
    mask->setLocations({0, 0.2, 0.8, 1});
    mask->setStartPoint({0, 0.5});
    mask->setEndPoint({1, 0.5});
    view->layer()->setMask(mask);
    auto picture = view->snapshotImage();
    ASSERT_TRUE(picture);
    EXPECT_LT(picture->pixelAt(0, 5).alpha, 10);
    EXPECT_EQ(picture->pixelAt(50, 5).alpha, 255);
    EXPECT_LT(picture->pixelAt(99, 5).alpha, 10);
    EXPECT_GT(picture->pixelAt(10, 5).alpha, 100);
    EXPECT_LT(picture->pixelAt(10, 5).alpha, 160);
}

TEST_F(TextEntryAndOverlaysTest, AnAnimatingImageViewShowsEachPictureForItsShare) {
    auto view = ImageView::make(Rect::make(0, 0, 2, 2));
    std::vector<ImagePtr> pictures;
    for (std::uint8_t grey : {10, 20, 30, 40}) pictures.push_back(Image::fromGrey8(1, 1, {grey}));
    view->setAnimationImages(pictures);
    view->setAnimationDuration(1.0);
    EXPECT_EQ(view->currentImage(), nullptr);
    view->startAnimating();
    EXPECT_EQ(view->currentImage(), pictures[0]);
    advance(0.26);
    EXPECT_EQ(view->currentImage(), pictures[1]);
    ASSERT_TRUE(view->snapshotImage());
    EXPECT_EQ(view->snapshotImage()->pixelAt(0, 0).red, 20);
    advance(1.0);
    EXPECT_EQ(view->currentImage(), pictures[1]);
    view->stopAnimating();
    EXPECT_EQ(view->currentImage(), nullptr);
}

}  // namespace
}  // namespace pindle::platform::ui
