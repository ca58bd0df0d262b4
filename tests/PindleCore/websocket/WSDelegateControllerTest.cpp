#include "PindleCore/websocket/WSDelegateController.hpp"

#include <gtest/gtest.h>

#include "PindleCore/notifications/PNNotificationsManager.hpp"
#include "RecordingSocketDelegate.hpp"

namespace pindle {
namespace {

using testing::RecordingSocketDelegate;

TEST(WSDelegateControllerTest, RecordsTheMethodsADelegateImplementsWhenItIsSet) {
    using Method = WSWebSocketDelegate::Method;
    // Each method alone, in the order of its bit.
    const Method methods[] = {
        Method::didReceiveMessage,
        Method::didReceiveMessageWithString,
        Method::didReceiveMessageWithData,
        Method::didOpen,
        Method::didFailWithError,
        Method::didCloseWithCode,
        Method::didReceivePing,
        Method::didReceivePong,
        Method::shouldConvertTextFrameToString,
    };
    WSDelegateController controller;
    for (std::size_t bit = 0; bit < std::size(methods); ++bit) {
        SCOPED_TRACE(bit);
        auto delegate =
            std::make_shared<RecordingSocketDelegate>(true, std::set<Method>{methods[bit]});
        controller.setDelegate(delegate);
        EXPECT_EQ(controller.availableDelegateMethods().mask(), 1u << bit);
        EXPECT_EQ(WSDelegateAvailableMethods::fromMask(1u << bit),
                  controller.availableDelegateMethods());
    }

    // The notifications manager implements its five callbacks and no other.
    auto manager = PNNotificationsManager::create();
    controller.setDelegate(manager);
    EXPECT_EQ(controller.availableDelegateMethods().mask(), 2 | 4 | 8 | 16 | 32);
    // A replaced record holds until the next delegate.
    controller.setAvailableDelegateMethods(WSDelegateAvailableMethods::fromMask(8));
    EXPECT_EQ(controller.availableDelegateMethods().mask(), 8);
    controller.setDelegate(std::weak_ptr<WSWebSocketDelegate>());
    EXPECT_EQ(controller.availableDelegateMethods().mask(), 0);
}

}  // namespace
}  // namespace pindle
