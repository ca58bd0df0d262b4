#include "platform/foundation/MethodRegistry.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace pindle::platform {
namespace {

TEST(MethodRegistryTest, ExchangesOnlyRegisteredSlots) {
    using Impl = std::function<std::string()>;
    auto& registry = MethodRegistry::shared();
    registry.registerSlot("TestView", "appear", Impl([] { return std::string("original"); }));
    registry.registerSlot("TestView", "custom_appear", Impl([] { return std::string("custom"); }));
    EXPECT_FALSE(registry.exchange("TestView", "appear", "TestView", "unregistered"));
    EXPECT_EQ((*registry.implementation<Impl>("TestView", "appear"))(), "original");
    EXPECT_TRUE(registry.exchange("TestView", "appear", "TestView", "custom_appear"));
    EXPECT_EQ((*registry.implementation<Impl>("TestView", "appear"))(), "custom");
    EXPECT_EQ((*registry.implementation<Impl>("TestView", "custom_appear"))(), "original");
    EXPECT_FALSE(registry.implementation<int>("TestView", "appear").has_value());
    EXPECT_FALSE(registry.implementation<Impl>("Other", "appear").has_value());
}

}  // namespace
}  // namespace pindle::platform
