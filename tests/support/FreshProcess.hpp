// Runs part of a test in a new process of the same test executable, started afresh (the
// test main, then only this test), for behaviour that happens once per process or counts
// what the whole process did: no earlier test, and no delayed work an earlier test left on
// the main queue, can touch it. The test fails, with the child's output, when the part
// fails or crashes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace pindle::testing {

inline void inFreshProcess(const std::function<void()>& part) {
    // "threadsafe" starts the child by running the executable again rather than by forking
    // this process with all its threads and state.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            part();
            std::fflush(nullptr);
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace pindle::testing
