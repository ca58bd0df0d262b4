// The canvas the interface and snapshots are drawn on: opaque pixels cover what lies below
// exactly, translucent ones blend, and a canvas reset for the next drawing starts blank with
// the state it was made with.
#include "platform/media/GraphicsContext.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace pindle::platform {
namespace {

using ui::Color;
using ui::Rect;

struct Pixel {
    int red, green, blue, alpha;
    bool operator==(const Pixel&) const = default;
};

Pixel pixelOf(const GraphicsContext& context, int x, int y) {
    const std::uint8_t* p =
        context.rgba().data() + (static_cast<std::size_t>(y) * context.pixelWidth() + x) * 4;
    return Pixel{p[0], p[1], p[2], p[3]};
}

void PrintTo(const Pixel& p, std::ostream* out) {
    *out << "(" << p.red << ", " << p.green << ", " << p.blue << ", " << p.alpha << ")";
}

// A 2x2 picture: opaque green, opaque blue, transparent, half-transparent white.
ImagePtr quarters() {
    return Image::make(2, 2, {0, 255, 0, 255, 0, 0, 255, 255, 9, 9, 9, 0, 255, 255, 255, 128});
}

TEST(GraphicsContextTest, ImagesCoverOrBlendOverWhatLiesBelow) {
    struct Case {
        const char* what;
        double alpha;  // the context's opacity
        // The canvas pixel in each quarter of the picture, drawn 4x4 over opaque red.
        Pixel green, blue, transparent, white;
    };
    const Case cases[] = {
        {"opaque", 1.0, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 0, 0, 255}, {255, 128, 128, 255}},
        {"at half opacity",
         0.5,
         {128, 128, 0, 255},
         {128, 0, 128, 255},
         {255, 0, 0, 255},
         {255, 64, 64, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto context = GraphicsContext::make(4, 4);
        ASSERT_TRUE(context);
        context->fill(Rect::make(0, 0, 4, 4), Color::make(1, 0, 0, 1));
        context->multiplyAlpha(c.alpha);
        context->drawImage(*quarters(), Rect::make(0, 0, 4, 4));
        // Each source pixel covers a 2x2 block.
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const Pixel expected =
                    y < 2 ? (x < 2 ? c.green : c.blue) : (x < 2 ? c.transparent : c.white);
                EXPECT_EQ(pixelOf(*context, x, y), expected) << "at " << x << ", " << y;
            }
    }
}

TEST(GraphicsContextTest, AnOpaqueFillReplacesTranslucentPixelsAndAClipHoldsForImages) {
    auto context = GraphicsContext::make(4, 1);
    ASSERT_TRUE(context);
    context->fill(Rect::make(0, 0, 4, 1), Color::make(0, 0, 1, 0.25));
    context->fill(Rect::make(0, 0, 2, 1), Color::make(1, 1, 0, 1));
    EXPECT_EQ(pixelOf(*context, 0, 0), (Pixel{255, 255, 0, 255}));
    EXPECT_EQ(pixelOf(*context, 3, 0), (Pixel{0, 0, 255, 64}));

    context->saveState();
    context->clip(Rect::make(1, 0, 2, 1));
    context->drawImage(*Image::make(1, 1, {10, 20, 30, 255}), Rect::make(0, 0, 4, 1));
    context->restoreState();
    EXPECT_EQ(pixelOf(*context, 0, 0), (Pixel{255, 255, 0, 255}));
    EXPECT_EQ(pixelOf(*context, 1, 0), (Pixel{10, 20, 30, 255}));
    EXPECT_EQ(pixelOf(*context, 2, 0), (Pixel{10, 20, 30, 255}));
    EXPECT_EQ(pixelOf(*context, 3, 0), (Pixel{0, 0, 255, 64}));
}

TEST(GraphicsContextTest, AResetCanvasIsBlankWithTheStateItWasMadeWith) {
    auto context = GraphicsContext::make(4, 4, 2.0);
    ASSERT_TRUE(context);
    context->translate(1, 1);
    context->clip(Rect::make(0, 0, 0.5, 0.5));
    context->multiplyAlpha(0.5);
    context->saveState();
    context->fill(Rect::make(0, 0, 2, 2), Color::make(1, 1, 1, 1));

    context->reset();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pixelOf(*context, x, y), (Pixel{0, 0, 0, 0}));
    // The scale it was made with; no translation, clip or opacity left over.
    context->fill(Rect::make(0, 0, 1, 1), Color::make(1, 1, 1, 1));
    EXPECT_EQ(pixelOf(*context, 0, 0), (Pixel{255, 255, 255, 255}));
    EXPECT_EQ(pixelOf(*context, 1, 1), (Pixel{255, 255, 255, 255}));
    EXPECT_EQ(pixelOf(*context, 2, 2), (Pixel{0, 0, 0, 0}));
    context->restoreState();  // nothing saved any more
    context->fill(Rect::make(1, 1, 1, 1), Color::make(1, 0, 0, 1));
    EXPECT_EQ(pixelOf(*context, 2, 2), (Pixel{255, 0, 0, 255}));
}

}  // namespace
}  // namespace pindle::platform
