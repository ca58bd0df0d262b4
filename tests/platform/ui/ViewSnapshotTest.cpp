// Snapshots are pixels: colours, z-order, hidden views, opacity, clipping, content modes;
// and layer animations on virtual time.
#include <gtest/gtest.h>

#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/View.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle::platform::ui {
namespace {

using Pixel = Image::Pixel;

constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel none{0, 0, 0, 0};

ViewPtr coloured(const Rect& frame, Color colour) {
    auto view = View::make(frame);
    view->setBackgroundColor(colour);
    return view;
}

TEST(ViewSnapshotTest, ColoursStackInSubviewOrderAndHiddenViewsDrawNothing) {
    auto root = coloured(Rect::make(50, 50, 20, 10), Color::make(1, 0, 0));
    auto top = coloured(Rect::make(10, 0, 10, 10), Color::make(0, 0, 1));
    auto hidden = coloured(Rect::make(0, 0, 5, 5), Color::make(0, 1, 0));
    hidden->setHidden(true);
    root->addSubview(top);
    root->addSubview(hidden);

    auto image = root->snapshotImage(2.0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelWidth(), 40);
    EXPECT_EQ(image->pixelHeight(), 20);
    EXPECT_EQ(image->pixelAt(0, 0), kRed);  // the hidden green square is not drawn
    EXPECT_EQ(image->pixelAt(19, 19), kRed);
    EXPECT_EQ(image->pixelAt(20, 0), kBlue);
    EXPECT_EQ(image->pixelAt(39, 19), kBlue);

    root->sendSubviewToBack(top);
    root->setBackgroundColor(Color::make(1, 0, 0, 1));
    top->setHidden(false);
    ASSERT_TRUE(root->snapshotImage());
    EXPECT_EQ(root->snapshotImage()->pixelAt(15, 5), kBlue);  // behind nothing opaque
}

TEST(ViewSnapshotTest, OpacityBlendsAndClippingCutsSubviews) {
    auto root = coloured(Rect::make(0, 0, 10, 10), Color::make(1, 1, 1));
    auto box = coloured(Rect::make(0, 0, 4, 4), Color::make(0, 0, 0, 1));
    box->setAlpha(0.5);
    auto spill = coloured(Rect::make(2, 2, 10, 10), Color::make(0, 0, 1));
    box->addSubview(spill);
    root->addSubview(box);

    auto image = root->snapshotImage();
    EXPECT_EQ(image->pixelAt(0, 0), (Pixel{128, 128, 128, 255}));
    EXPECT_EQ(image->pixelAt(8, 8), (Pixel{128, 128, 255, 255}));  // unclipped spill, half
    box->setClipsToBounds(true);
    ASSERT_TRUE(root->snapshotImage());
    EXPECT_EQ(root->snapshotImage()->pixelAt(8, 8), (Pixel{255, 255, 255, 255}));

    box->setAlpha(0);
    ASSERT_TRUE(root->snapshotImage());
    EXPECT_EQ(root->snapshotImage()->pixelAt(0, 0), (Pixel{255, 255, 255, 255}));
    EXPECT_EQ(View::make()->snapshotImage(), nullptr);
}

TEST(ViewSnapshotTest, ContentModesFitTheImage) {
    // A 2x1 image: red on the left, blue on the right, in a 10x10 view.
    auto picture = Image::make(2, 1, {255, 0, 0, 255, 0, 0, 255, 255});
    struct Case {
        View::ContentMode mode;
        Pixel topLeft, centreLeft, centreRight;
    };
    const Case cases[] = {
        {View::ContentMode::scaleToFill, kRed, kRed, kBlue},
        {View::ContentMode::scaleAspectFit, none, kRed, kBlue},  // 10x5, centred
        {View::ContentMode::scaleAspectFill, kRed, kRed,
         kRed},                                         // 20x10, middle shows red|blue at 5
        {View::ContentMode::center, none, none, none},  // 2x1 at (4, 4.5)
    };
    for (const auto& c : cases) {
        auto view = ImageView::make(Rect::make(0, 0, 10, 10));
        view->setImage(picture);
        view->setContentMode(c.mode);
        view->setClipsToBounds(true);
        auto image = view->snapshotImage();
        EXPECT_EQ(image->pixelAt(0, 0), c.topLeft) << static_cast<int>(c.mode);
        EXPECT_EQ(image->pixelAt(1, 5), c.centreLeft) << static_cast<int>(c.mode);
        EXPECT_EQ(image->pixelAt(9, 5), c.centreRight == kRed ? kBlue : c.centreRight)
            << static_cast<int>(c.mode);
    }
}

class LayerAnimationTest : public testing::VirtualTimeTest {};

TEST_F(LayerAnimationTest, CompletesAfterItsDurationOrStopsUnfinishedWhenRemoved) {
    auto layer = Layer::make();
    std::vector<bool> stops;
    BasicAnimation fade{"opacity", 1.0, 0.0, 0.4, TimingFunction::linear, [&](bool finished) {
                            stops.push_back(finished);
                        }};
    layer->add(fade, "fade");
    advance(0.1);
    MainThread::drain();
    EXPECT_NEAR(layer->presentationValue("opacity").asDouble().value_or(-1), 0.75, 1e-9);
    EXPECT_DOUBLE_EQ(layer->opacity(), 1.0);  // the model value never animates
    advance(0.3);
    MainThread::drain();
    EXPECT_EQ(stops, std::vector<bool>{true});
    EXPECT_TRUE(layer->animationKeys().empty());

    layer->add(fade, "fade");
    layer->add(fade, "other");
    layer->add(fade, "fade");  // replaces the first: it stops unfinished
    layer->removeAllAnimations();
    layer->removeAllAnimations();
    MainThread::drain();
    advance(1.0);
    MainThread::drain();
    EXPECT_EQ(stops, (std::vector<bool>{true, false, false, false}));
}

}  // namespace
}  // namespace pindle::platform::ui
