// View::animate on virtual time: model values at once, the completion after delay plus
// duration, once; false when the animations are removed or replaced; the options recorded.
#include <gtest/gtest.h>

#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/View.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

class ViewAnimationTest : public testing::VirtualTimeTest {
  protected:
    void step(double seconds) {
        advance(seconds);
        MainThread::drain();
    }
    ViewPtr view = View::make(Rect::make(0, 0, 100, 100));
    std::vector<bool> completions;
    std::function<void(bool)> record = [this](bool finished) {
        completions.push_back(finished);
    };
};

TEST_F(ViewAnimationTest, ModelValuesAreFinalAtOnceAndTheCompletionWaitsForDelayPlusDuration) {
    View::animate(
        0.4, 0.1, View::AnimationOptions::allowUserInteraction,
        [&] {
            view->setAlpha(0);
            view->setAlpha(0.2);  // one animation per property: the first change wins
            view->setFrame(Rect::make(10, 10, 50, 50));
        },
        record);
    EXPECT_EQ(View::lastAnimationOptions(), 2u);
    EXPECT_DOUBLE_EQ(view->alpha(), 0.2);
    EXPECT_EQ(view->frame(), Rect::make(10, 10, 50, 50));
    auto keys = view->layer()->animationKeys();
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"bounds", "opacity", "position"}));

    step(0.05);  // still in the delay: the old value shows
    EXPECT_DOUBLE_EQ(view->layer()->presentationValue("opacity").asDouble().value_or(-1), 1.0);
    step(0.25);  // half-way, eased in and out
    EXPECT_NEAR(view->layer()->presentationValue("opacity").asDouble().value_or(-1), 0.6, 1e-6);
    step(0.15);
    EXPECT_TRUE(completions.empty());
    step(0.05);
    EXPECT_EQ(completions, std::vector<bool>{true});
    step(1.0);
    EXPECT_EQ(completions, std::vector<bool>{true});
}

TEST_F(ViewAnimationTest, RemovalOrReplacementEndsUnfinishedExactlyOnce) {
    View::animate(
        1.0,
        [&] {
            view->setAlpha(0.5);
            view->setCenter(Point{5, 5});
        },
        record);
    view->layer()->removeAllAnimations();
    MainThread::drain();
    EXPECT_EQ(completions, std::vector<bool>{false});
    step(2.0);
    EXPECT_EQ(completions, std::vector<bool>{false});

    completions.clear();
    View::animate(
        1.0, [&] { view->setAlpha(0.1); }, record);
    View::animate(
        1.0, [&] { view->setAlpha(0.9); }, record);
    MainThread::drain();
    step(1.0);
    EXPECT_EQ(completions, (std::vector<bool>{false, true}));
}

TEST_F(ViewAnimationTest, NothingToAnimateOrNoDurationCompletesOnTime) {
    View::animate(
        0, [&] { view->setAlpha(0.3); }, record);
    EXPECT_TRUE(completions.empty());
    MainThread::drain();
    EXPECT_EQ(completions, std::vector<bool>{true});

    View::animate(
        0.3, [] {}, record);
    step(0.2);
    EXPECT_EQ(completions.size(), 1u);
    step(0.1);
    EXPECT_EQ(completions, (std::vector<bool>{true, true}));
}

}  // namespace
}  // namespace pindle::platform::ui
