#include "platform/media/PixelBufferPool.hpp"

#include <gtest/gtest.h>

namespace pindle::platform {
namespace {

using Format = PixelBuffer::Format;

TEST(PixelBufferPoolTest, ABufferIsHandedOutAgainOnlyOnceNobodyHoldsIt) {
    PixelBufferPool pool;
    PixelBufferPtr first = pool.make(Format::nv12, 64, 32);
    ASSERT_TRUE(first);
    const PixelBuffer* firstAddress = first.get();
    PixelBufferPtr second = pool.make(Format::nv12, 64, 32);
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), firstAddress) << "a held buffer is never written again";

    first.reset();
    PixelBufferPtr again = pool.make(Format::nv12, 64, 32);
    EXPECT_EQ(again.get(), firstAddress);
    EXPECT_EQ(again->width(), 64);
    EXPECT_EQ(again->height(), 32);

    // Another size or format is never served from buffers of the old one.
    again.reset();
    second.reset();
    const PixelBufferPtr larger = pool.make(Format::nv12, 128, 64);
    EXPECT_EQ(larger->width(), 128);
    EXPECT_EQ(larger->height(), 64);
    const PixelBufferPtr other = pool.make(Format::bgra, 128, 64);
    EXPECT_NE(other.get(), larger.get());
    EXPECT_EQ(other->format(), Format::bgra);

    EXPECT_FALSE(pool.make(Format::nv12, 63, 32)) << "NV12 needs an even size";
}

TEST(PixelBufferPoolTest, MoreBuffersInFlightThanItKeepsStillEachGetTheirOwn) {
    PixelBufferPool pool;
    std::vector<PixelBufferPtr> held;
    for (std::size_t i = 0; i < PixelBufferPool::maximumBuffers + 3; ++i)
        held.push_back(pool.make(Format::argb, 8, 8));
    for (std::size_t i = 0; i < held.size(); ++i)
        for (std::size_t j = i + 1; j < held.size(); ++j)
            ASSERT_NE(held[i].get(), held[j].get()) << i << " " << j;
}

}  // namespace
}  // namespace pindle::platform
