// WSDelegateAvailableMethods: which of the optional WSWebSocketDelegate methods a delegate
// implements, one bit per method. The delegate controller records them when the delegate is
// set, and a socket sends a callback only when its bit is set.
//
// As one number (mask()), each method has the bit of its position below: didReceiveMessage
// 1, didReceiveMessageWithString 2, didReceiveMessageWithData 4, didOpen 8,
// didFailWithError 16, didCloseWithCode 32, didReceivePing 64, didReceivePong 128,
// shouldConvertTextFrameToString 256.
//
// Thread-safety: a plain value type, copied whole.
#pragma once

#include <cstdint>

namespace pindle {

struct WSDelegateAvailableMethods {
    bool didReceiveMessage : 1 = false;
    bool didReceiveMessageWithString : 1 = false;
    bool didReceiveMessageWithData : 1 = false;
    bool didOpen : 1 = false;
    bool didFailWithError : 1 = false;
    bool didCloseWithCode : 1 = false;
    bool didReceivePing : 1 = false;
    bool didReceivePong : 1 = false;
    bool shouldConvertTextFrameToString : 1 = false;

    constexpr std::uint16_t mask() const {
        return static_cast<std::uint16_t>(
            (didReceiveMessage ? 1u : 0u) | (didReceiveMessageWithString ? 2u : 0u) |
            (didReceiveMessageWithData ? 4u : 0u) | (didOpen ? 8u : 0u) |
            (didFailWithError ? 16u : 0u) | (didCloseWithCode ? 32u : 0u) |
            (didReceivePing ? 64u : 0u) | (didReceivePong ? 128u : 0u) |
            (shouldConvertTextFrameToString ? 256u : 0u));
    }

    static constexpr WSDelegateAvailableMethods fromMask(std::uint16_t bits) {
        WSDelegateAvailableMethods methods;
        methods.didReceiveMessage = (bits & 1u) != 0;
        methods.didReceiveMessageWithString = (bits & 2u) != 0;
        methods.didReceiveMessageWithData = (bits & 4u) != 0;
        methods.didOpen = (bits & 8u) != 0;
        methods.didFailWithError = (bits & 16u) != 0;
        methods.didCloseWithCode = (bits & 32u) != 0;
        methods.didReceivePing = (bits & 64u) != 0;
        methods.didReceivePong = (bits & 128u) != 0;
        methods.shouldConvertTextFrameToString = (bits & 256u) != 0;
        return methods;
    }

    constexpr bool operator==(const WSDelegateAvailableMethods& other) const {
        return mask() == other.mask();
    }
};

}  // namespace pindle
