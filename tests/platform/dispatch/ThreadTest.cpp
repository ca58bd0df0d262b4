#include "platform/dispatch/Thread.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/dispatch/ThreadIdentity.hpp"

namespace pindle::platform {
namespace {

TEST(ThreadTest, RunsItsBodyNamedAndIsJoinedWhenItGoes) {
    std::string name;
    std::uint64_t id = 0;
    std::atomic<bool> finished = false;
    {
        Thread thread("Pindle.Worker.Long.Name", [&] {
            name = ThreadIdentity::currentThreadName();
            id = ThreadIdentity::currentThreadID();
            finished = true;
        });
        EXPECT_TRUE(thread.joinable());
    }
    EXPECT_TRUE(finished);  // the destructor waited for the body
    EXPECT_EQ(name, "Pindle.Worker.L");
    EXPECT_NE(id, ThreadIdentity::currentThreadID());
}

}  // namespace
}  // namespace pindle::platform
