#include "platform/crypto/MD5.hpp"

#include <gtest/gtest.h>

namespace pindle::platform {
namespace {

TEST(MD5Test, KnownDigests) {
    const struct {
        const char* text;
        const char* hex;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : vectors) EXPECT_EQ(MD5::hexDigest(v.text), v.hex) << v.text;
}

}  // namespace
}  // namespace pindle::platform
