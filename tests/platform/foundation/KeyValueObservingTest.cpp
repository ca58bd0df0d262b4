#include "platform/foundation/KeyValueObserving.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pindle::platform {
namespace {

class Item : public KeyValueObservable {
  public:
    ObservableProperty<int> status{*this, "status", 0};
};

class Holder : public KeyValueObservable {
  public:
    ObservableProperty<std::shared_ptr<Item>> currentItem{*this, "currentItem"};
    ObservableProperty<std::string> name{*this, "name"};
};

struct Recorder {
    std::vector<KVOChange> changes;
    KVOHandler handler() {
        return [this](const KVOChange& change) {
            changes.push_back(change);
        };
    }
};

std::optional<std::int64_t> number(const Value& v) {
    return v.asWholeNumber();
}

TEST(KeyValueObservingTest, OptionsShapeEachDelivery) {
    struct Case {
        const char* name;
        unsigned options;
        std::size_t deliveries;  // for observe + one change
        bool firstIsInitialWithNew;
    };
    const Case cases[] = {
        {"new only", static_cast<unsigned>(KVOOption::newValue), 1, false},
        {"initial and new", KVOOption::initial | KVOOption::newValue, 2, true},
        {"prior and old", KVOOption::prior | KVOOption::oldValue, 2, false},
        {"all", KVOOption::initial | KVOOption::newValue | KVOOption::oldValue | KVOOption::prior,
         3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = std::make_shared<Item>();
        item->status.set(1);
        Recorder recorder;
        const auto token = item->observe("status", c.options, recorder.handler());
        ASSERT_EQ(recorder.changes.size(), c.firstIsInitialWithNew ? 1u : 0u);
        if (c.firstIsInitialWithNew) {
            EXPECT_EQ(number(recorder.changes[0].newValue), 1);
            EXPECT_TRUE(recorder.changes[0].oldValue.isNull());
            EXPECT_EQ(recorder.changes[0].observation, token);  // context during initial
        }
        item->status.set(2);
        ASSERT_EQ(recorder.changes.size(), c.deliveries);
        const bool wantsNew = c.options & static_cast<unsigned>(KVOOption::newValue);
        const bool wantsOld = c.options & static_cast<unsigned>(KVOOption::oldValue);
        if (c.options & static_cast<unsigned>(KVOOption::prior)) {
            const auto& prior = recorder.changes[recorder.changes.size() - 2];
            EXPECT_TRUE(prior.isPrior);
            EXPECT_TRUE(prior.newValue.isNull());
            EXPECT_EQ(number(prior.oldValue),
                      wantsOld ? std::optional<std::int64_t>(1) : std::nullopt);
        }
        const auto& last = recorder.changes.back();
        EXPECT_FALSE(last.isPrior);
        EXPECT_EQ(last.keyPath, "status");
        EXPECT_EQ(last.object, item);
        EXPECT_EQ(number(last.newValue), wantsNew ? std::optional<std::int64_t>(2) : std::nullopt);
        EXPECT_EQ(number(last.oldValue), wantsOld ? std::optional<std::int64_t>(1) : std::nullopt);
    }
}

TEST(KeyValueObservingTest, AnnouncesEqualValuesUnlessAskedToCompare) {
    auto item = std::make_shared<Item>();
    Recorder recorder;
    item->observe("status", static_cast<unsigned>(KVOOption::newValue), recorder.handler());
    item->status.set(0);
    EXPECT_EQ(recorder.changes.size(), 1u);
    EXPECT_FALSE(item->status.setIfChanged(0));
    EXPECT_TRUE(item->status.setIfChanged(5));
    EXPECT_EQ(recorder.changes.size(), 2u);
}

TEST(KeyValueObservingTest, DottedPathRehooksWhenTheIntermediateChanges) {
    auto holder = std::make_shared<Holder>();
    auto first = std::make_shared<Item>();
    auto second = std::make_shared<Item>();
    second->status.set(7);
    holder->currentItem.set(first);

    Recorder recorder;
    holder->observe("currentItem.status",
                    KVOOption::initial | KVOOption::newValue | KVOOption::oldValue,
                    recorder.handler());
    ASSERT_EQ(recorder.changes.size(), 1u);
    EXPECT_EQ(number(recorder.changes.back().newValue), 0);

    first->status.set(1);
    ASSERT_EQ(recorder.changes.size(), 2u);
    EXPECT_EQ(number(recorder.changes.back().newValue), 1);
    EXPECT_EQ(recorder.changes.back().object, holder);

    holder->currentItem.set(second);  // the path fires for the replacement
    ASSERT_EQ(recorder.changes.size(), 3u);
    EXPECT_EQ(number(recorder.changes.back().oldValue), 1);
    EXPECT_EQ(number(recorder.changes.back().newValue), 7);

    first->status.set(9);  // the old item is no longer watched
    EXPECT_EQ(recorder.changes.size(), 3u);
    second->status.set(8);
    ASSERT_EQ(recorder.changes.size(), 4u);
    EXPECT_EQ(number(recorder.changes.back().newValue), 8);

    holder->currentItem.set(nullptr);  // replaced by none
    ASSERT_EQ(recorder.changes.size(), 5u);
    EXPECT_TRUE(recorder.changes.back().newValue.isNull());
    second->status.set(3);
    EXPECT_EQ(recorder.changes.size(), 5u);

    holder->currentItem.set(first);  // and back again from none
    first->status.set(4);
    ASSERT_EQ(recorder.changes.size(), 7u);
    EXPECT_EQ(number(recorder.changes.back().newValue), 4);
    EXPECT_EQ(number(holder->valueForKeyPath("currentItem.status")), 4);
    EXPECT_TRUE(holder->valueForKeyPath("name.status").isNull());
}

TEST(KeyValueObservingTest, RemovalByTokenIsIdempotentAndScopedToItsObject) {
    auto holder = std::make_shared<Holder>();
    auto item = std::make_shared<Item>();
    holder->currentItem.set(item);
    Recorder recorder;
    const auto direct = item->observe("status", 0, recorder.handler());
    const auto dotted = holder->observe("currentItem.status", 0, recorder.handler());

    holder->removeObservation(direct);  // not made on holder: ignored
    item->status.set(1);
    EXPECT_EQ(recorder.changes.size(), 2u);

    item->removeObservation(direct);
    item->removeObservation(direct);
    holder->removeObservation(nullptr);
    dotted->invalidate();
    EXPECT_FALSE(dotted->isValid());
    item->status.set(2);
    holder->currentItem.set(nullptr);
    EXPECT_EQ(recorder.changes.size(), 2u);
}

TEST(KeyValueObservingTest, HandlersMayReenterAndRemoveThemselves) {
    auto holder = std::make_shared<Holder>();
    KeyValueObservationPtr self;
    int calls = 0;
    self = holder->observe("name", 0, [&](const KVOChange& change) {
        ++calls;
        // Changing the object and removing the observation from inside the handler must
        // neither deadlock nor deliver again.
        holder->removeObservation(change.observation);
        holder->name.set("again");
    });
    int laterCalls = 0;
    holder->observe("name", 0, [&](const KVOChange&) { ++laterCalls; });
    holder->name.set("first");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(laterCalls, 2);  // the nested set and the outer one
}

TEST(KeyValueObservingTest, DeliversOnTheAnnouncingThread) {
    auto item = std::make_shared<Item>();
    std::thread::id deliveredOn;
    item->observe("status", 0, [&](const KVOChange&) { deliveredOn = std::this_thread::get_id(); });
    std::thread writer([&] { item->status.set(3); });
    const auto writerId = writer.get_id();
    writer.join();
    EXPECT_EQ(deliveredOn, writerId);
}

TEST(KeyValueObservingTest, AnIntermediateOutlivingTheRootStopsDelivering) {
    auto item = std::make_shared<Item>();
    int calls = 0;
    std::weak_ptr<KeyValueObservation> weakToken;
    {
        auto holder = std::make_shared<Holder>();
        holder->currentItem.set(item);
        weakToken = holder->observe("currentItem.status", 0, [&](const KVOChange&) { ++calls; });
    }
    item->status.set(1);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(weakToken.expired());  // the item let go of it
}

}  // namespace
}  // namespace pindle::platform
