#include "platform/foundation/RandomJsonDocument.hpp"

namespace pindle::platform::test {

std::string randomJsonDocument(std::mt19937& random, int depth) {
    static const char* const scalars[] = {"0",
                                          "-0",
                                          "12",
                                          "-7",
                                          "9223372036854775807",
                                          "-9223372036854775808",
                                          "9223372036854775808",
                                          "-9223372036854775809",
                                          "18446744073709551615",
                                          "1.5",
                                          "-0.0",
                                          "1e3",
                                          "2E-2",
                                          "1e-400",
                                          "123456789012345678901234567890",
                                          "true",
                                          "false",
                                          "null",
                                          "\"\"",
                                          "\"plain\"",
                                          "\"\\u00e9\\n\\t\\\"\\\\\\/\\b\\f\\r\"",
                                          "\"\\ud83d\\ude00\"",
                                          "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
                                          "\"\\u0000\"",
                                          "\"\\uD800\\uDC00\""};
    const auto pick = [&](int n) {
        return static_cast<int>(random() % static_cast<unsigned>(n));
    };
    if (depth > 3 || pick(3) == 0)
        return scalars[pick(static_cast<int>(std::size(scalars)))];
    const int count = pick(4);
    const bool object = pick(2) == 0;
    std::string text = object ? "{" : "[";
    for (int i = 0; i < count; ++i) {
        if (i)
            text += pick(8) ? "," : " ,\n";
        if (object)
            text += "\"k" + std::to_string(pick(3)) + "\" : ";
        text += randomJsonDocument(random, depth + 1);
    }
    return text + (object ? "}" : "]");
}

}  // namespace pindle::platform::test
