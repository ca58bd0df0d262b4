// Controls and gestures driven by synthetic touches through a window: the events a button
// and a slider send, a control taking a touch before the gesture recognisers around it,
// and the tap and swipe recognisers' decisions.
#include <gtest/gtest.h>

#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/Button.hpp"
#include "platform/ui/PanGestureRecognizer.hpp"
#include "platform/ui/Slider.hpp"
#include "platform/ui/SwipeGestureRecognizer.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/TouchSynthesizer.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::ui {
namespace {

using Event = Control::Event;

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override { window->makeKeyAndVisible(); }
    void TearDown() override { MainThread::drain(); }

    template <class T>
    std::shared_ptr<T> add(std::shared_ptr<T> view) {
        window->addSubview(view);
        return view;
    }
    void record(const std::shared_ptr<Control>& control, unsigned events, const char* name) {
        control->addTarget(events, [this, name](Control&) { log.push_back(name); });
    }

    std::shared_ptr<Window> window = Window::make(Rect::make(0, 0, 375, 667));
    std::vector<std::string> log;
};

TEST_F(ControlTest, AButtonSendsUpInsideForATapAndUpOutsideForADragAway) {
    auto button = add(Button::make(Rect::make(100, 100, 50, 50)));
    record(button, Event::touchDown, "down");
    record(button, Event::touchUpInside, "inside");
    record(button, Event::touchUpOutside, "outside");

    TouchSynthesizer::tap(button);
    EXPECT_EQ(log, (std::vector<std::string>{"down", "inside"}));

    log.clear();
    TouchSynthesizer::drag(button, Point{25, 25}, Point{200, 25});
    EXPECT_EQ(log, (std::vector<std::string>{"down", "outside"}));

    log.clear();
    button->setEnabled(false);
    TouchSynthesizer::tap(button);
    EXPECT_TRUE(log.empty());
}

TEST_F(ControlTest, ASliderDragMovesTheValueAlongTheTrackAndReportsEachStep) {
    auto slider = add(Slider::make(Rect::make(0, 300, 228, 40)));  // track 14...214
    int changes = 0;
    slider->addTarget(Event::valueChanged, [&](Control&) { ++changes; });
    record(slider, Event::touchDown, "down");
    record(slider, Event::touchUpInside | Event::touchUpOutside, "up");

    const Rect track = slider->trackRect(slider->bounds());
    TouchSynthesizer::drag(slider, Point{track.minX(), 20}, Point{track.minX() + 150, 20}, 3);
    EXPECT_FLOAT_EQ(slider->value(), 0.75f);
    EXPECT_EQ(changes, 3);  // one per move: the touch-down and the end change nothing
    EXPECT_EQ(log, (std::vector<std::string>{"down", "up"}));

    // Past the end clamps, and the end outside the slider is up-outside.
    log.clear();
    TouchSynthesizer::drag(slider, Point{100, 20}, Point{400, 20});
    EXPECT_FLOAT_EQ(slider->value(), 1.0f);
    EXPECT_EQ(log.back(), "up");

    slider->setValue(0.25f, true);
    EXPECT_TRUE(slider->lastSetAnimated());
    slider->setValue(7.0f);
    EXPECT_FLOAT_EQ(slider->value(), 1.0f);
    EXPECT_FALSE(slider->lastSetAnimated());
}

TEST_F(ControlTest, AnEnabledControlTakesItsTouchBeforeTheRecognisersAroundIt) {
    auto panel = add(View::make(Rect::make(0, 0, 375, 200)));
    auto button = Button::make(Rect::make(10, 10, 50, 50));
    panel->addSubview(button);
    int taps = 0;
    panel->addGestureRecognizer(
        std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++taps; }));
    record(button, Event::touchUpInside, "inside");

    TouchSynthesizer::tap(button);
    EXPECT_EQ(taps, 0);
    EXPECT_EQ(log, std::vector<std::string>{"inside"});

    TouchSynthesizer::tap(panel, Point{200, 100});
    EXPECT_EQ(taps, 1);

    button->setEnabled(false);  // a disabled control lets the recogniser have it
    TouchSynthesizer::tap(button);
    EXPECT_EQ(taps, 2);
}

TEST_F(ControlTest, RecognisersDecideByDistanceAndDirection) {
    auto area = add(View::make(Rect::make(0, 0, 375, 667)));
    auto tap = std::make_shared<TapGestureRecognizer>();
    auto swipe = std::make_shared<SwipeGestureRecognizer>();
    swipe->setDirection(SwipeGestureRecognizer::Direction::left |
                        SwipeGestureRecognizer::Direction::up);
    std::vector<std::string> seen;
    tap->addTarget([&](GestureRecognizer&) { seen.push_back("tap"); });
    swipe->addTarget([&](GestureRecognizer&) { seen.push_back("swipe"); });
    area->addGestureRecognizer(tap);
    area->addGestureRecognizer(swipe);

    struct Case {
        const char* name;
        std::function<void()> touch;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"tap", [&] { TouchSynthesizer::tap(area); }, {"tap"}},
        {"small wobble",
         [&] {
             TouchSynthesizer::drag(area, {100, 100}, {105, 104});
         },
         {"tap"}},
        {"left",
         [&] { TouchSynthesizer::swipe(area, SwipeGestureRecognizer::Direction::left); },
         {"swipe"}},
        {"up",
         [&] { TouchSynthesizer::swipe(area, SwipeGestureRecognizer::Direction::up); },
         {"swipe"}},
        {"right is not asked for",
         [&] { TouchSynthesizer::swipe(area, SwipeGestureRecognizer::Direction::right); },
         {}},
        {"diagonal",
         [&] {
             TouchSynthesizer::drag(area, {100, 100}, {180, 180});
         },
         {}},
    };
    for (const auto& c : cases) {
        seen.clear();
        c.touch();
        EXPECT_EQ(seen, c.expected) << c.name;
    }
    area->removeGestureRecognizer(tap);
    seen.clear();
    TouchSynthesizer::tap(area);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(tap->view(), nullptr);
}

TEST_F(ControlTest, APanBeginsPastItsThresholdAndReportsTranslation) {
    auto area = add(View::make(Rect::make(0, 0, 375, 667)));
    auto pan = std::make_shared<PanGestureRecognizer>();
    std::vector<GestureRecognizer::State> states;
    pan->addTarget([&](GestureRecognizer& r) { states.push_back(r.state()); });
    area->addGestureRecognizer(pan);

    TouchSynthesizer::drag(area, {100, 100}, {100, 160}, 6);  // 10 points a step
    using State = GestureRecognizer::State;
    EXPECT_EQ(states,
              (std::vector<State>{State::began, State::changed, State::changed, State::changed,
                                  State::changed, State::changed, State::ended}));
    EXPECT_EQ(pan->translation(), (Point{0, 60}));

    states.clear();
    TouchSynthesizer::drag(area, {100, 100}, {104, 104});
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(pan->state(), State::failed);
}

}  // namespace
}  // namespace pindle::platform::ui
