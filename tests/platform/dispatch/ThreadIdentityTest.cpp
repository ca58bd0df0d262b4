#include "platform/dispatch/ThreadIdentity.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace pindle::platform {
namespace {

TEST(ThreadIdentityTest, ThreadsHaveTheirOwnIdAndName) {
    std::uint64_t mainID = ThreadIdentity::currentThreadID();
    std::uint64_t otherID = 0;
    std::string unnamed = "unset";
    std::string named;
    std::string namedView;  // the uncopied form must follow a rename too
    std::thread thread([&] {
        otherID = ThreadIdentity::currentThreadID();
        unnamed = ThreadIdentity::currentThreadName();
        ThreadIdentity::setCurrentThreadName("a-long-worker-thread-name");
        named = ThreadIdentity::currentThreadName();
        namedView = ThreadIdentity::currentThreadNameView();
    });
    thread.join();
    EXPECT_NE(mainID, 0u);
    EXPECT_NE(otherID, mainID);
    EXPECT_EQ(unnamed, "");  // an inherited process name is no name of its own
    EXPECT_EQ(named, "a-long-worker-t");
    EXPECT_EQ(namedView, "a-long-worker-t");
}

}  // namespace
}  // namespace pindle::platform
