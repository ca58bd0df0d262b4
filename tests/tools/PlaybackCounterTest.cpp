// How `play` counts playback: media time that played at rate 1, summed over the videos, never
// what a seek skipped, a step back, or a clock that ran on while the controller was paused.
#include "examples/pindle-example/PlaybackCounter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace pindle::example {
namespace {

// Reports every 0.03 s of media time from `from` to `to`, the wall clock moving with it from
// `wall` on; gives the wall time at the end.
double play(PlaybackCounter& counter, const void* video, double from, double to, double wall) {
    constexpr double step = 0.03;
    const int steps = static_cast<int>(std::lround((to - from) / step));
    for (int i = 1; i <= steps; ++i) counter.report(video, from + i * step, wall + i * step);
    return wall + steps * step;
}

TEST(PlaybackCounterTest, CountsOnlyWhatPlayedAtRateOne) {
    const int first = 0, second = 0;
    struct Case {
        std::string name;
        std::function<void(PlaybackCounter&)> run;
        double played;
    };
    const Case cases[] = {
        {"two seconds of playback",
         [&](PlaybackCounter& c) {
             c.setPlaying(true, 0);
             play(c, &first, 0, 2, 0);
         },
         2},
        {"a slider seek ahead",
         [&](PlaybackCounter& c) {
             c.setPlaying(true, 0);
             double wall = play(c, &first, 0, 1, 0);
             c.report(&first, 8, wall + 0.03);
             play(c, &first, 8, 9, wall + 0.03);
         },
         2},
        {"a seek back plays its part again",
         [&](PlaybackCounter& c) {
             c.setPlaying(true, 0);
             double wall = play(c, &first, 0, 3, 0);
             c.report(&first, 1, wall + 0.03);
             play(c, &first, 1, 1.5, wall + 0.03);
         },
         3.5},
        {"a clock that ran on through a pause",
         [&](PlaybackCounter& c) {
             c.setPlaying(true, 0);
             double wall = play(c, &first, 0, 1, 0);
             c.setPlaying(false, wall);
             c.report(&first, 1.5, wall + 0.5);  // reported while paused
             c.setPlaying(true, wall + 3);
             c.report(&first, 4.03, wall + 3.03);
             play(c, &first, 4.03, 5.03, wall + 3.03);
         },
         2},
        {"a second video counts from its start",
         [&](PlaybackCounter& c) {
             c.setPlaying(true, 0);
             double wall = play(c, &first, 0, 2, 0);
             play(c, &second, 0, 1, wall + 0.5);
         },
         3},
        {"no number and not playing",
         [&](PlaybackCounter& c) {
             c.report(&first, 0.5, 0.5);
             c.setPlaying(true, 1);
             c.report(&first, std::nan(""), 1.03);
             c.report(&first, 0.53, 1.06);
         },
         0.03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlaybackCounter counter;
        c.run(counter);
        EXPECT_NEAR(counter.played(), c.played, 0.02);
    }
}

}  // namespace
}  // namespace pindle::example
