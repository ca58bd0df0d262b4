#include "platform/foundation/Weakly.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/WeakDelegate.hpp"

namespace pindle::platform {
namespace {

struct Base : std::enable_shared_from_this<Base> {
    virtual ~Base() = default;
};

struct Counter : Base {
    std::vector<int> seen;
    std::function<void()> hop() {
        return weakly(this, [](Counter& self) { self.seen.push_back(0); });
    }
};

TEST(WeaklyTest, RunsWhileOwnedNeverAfterAndNeverKeepsTheObject) {
    auto counter = std::make_shared<Counter>();
    // enable_shared_from_this sits on the base: the body still gets the derived type.
    std::function<void()> hop = counter->hop();
    std::function<void(int, int)> add =
        weakly(counter, [](Counter& self, int a, int b) { self.seen.push_back(a + b); });
    hop();
    add(2, 3);
    EXPECT_EQ(counter->seen, (std::vector<int>{0, 5}));

    std::weak_ptr<Counter> gone = counter;
    counter.reset();
    EXPECT_TRUE(gone.expired()) << "the callables must not own the object";
    hop();  // nothing to run on, nothing to crash on
    add(1, 1);
}

struct Delegate {
    int calls = 0;
};

TEST(WeakDelegateTest, HandsOutTheDelegateOnlyWhileItLives) {
    WeakDelegate<Delegate> holder;
    EXPECT_EQ(holder.get(), nullptr);
    auto delegate = std::make_shared<Delegate>();
    holder.set(delegate);
    EXPECT_EQ(holder.get(), delegate);
    EXPECT_EQ(holder.weak().lock(), delegate);
    delegate.reset();
    EXPECT_EQ(holder.get(), nullptr) << "held weakly: the delegate's owner decides its life";
}

}  // namespace
}  // namespace pindle::platform
