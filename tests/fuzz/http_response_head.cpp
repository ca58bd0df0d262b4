// The head of an HTTP answer (the upgrade answer, a proxy's answer) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/stream/HTTPResponseHead.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto length = pindle::platform::HTTPResponseHead::completeLength(bytes);
    if (length && *length > size)
        std::abort();
    if (auto head = pindle::platform::HTTPResponseHead::parse(bytes)) {
        if (head->statusCode() < 0 || head->statusCode() > 999)
            std::abort();
        for (const auto& [name, value] : head->headerFields())
            if (head->headerField(name).has_value() == false)
                std::abort();
    }
    return 0;
}
