// The slider's geometry and thumb picture, and the noise view's pictures and animation on
// virtual time.
#include <gtest/gtest.h>

#include "PindleCore/widgets/PNNoiseView.hpp"
#include "PindleCore/widgets/PNSlider.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;

TEST(PNSliderTest, TrackAndThumbAreCutTowardsZeroInSinglePrecision) {
    auto slider = PNSlider::make(ui::Rect::make(0, 0, 200, 30));
    EXPECT_EQ(slider->trackRect(ui::Rect::make(0, 0, 200, 30)), ui::Rect::make(0, 14, 200, 0.5));
    struct Case {
        double boundsHeight, trackWidth;
        float value;
        ui::Rect thumb;
    };
    const Case cases[] = {
        {30, 200, 0.5f, ui::Rect::make(70, -15, 60, 60)},
        {30, 200, 0.0f, ui::Rect::make(-30, -15, 60, 60)},
        {30, 200, 1.0f, ui::Rect::make(170, -15, 60, 60)},
        {31, 101, 0.5f, ui::Rect::make(20, -14, 60, 60)},
        {30, 200, std::numeric_limits<float>::quiet_NaN(), ui::Rect::make(0, -15, 60, 60)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto bounds = ui::Rect::make(0, 0, 200, c.boundsHeight);
        EXPECT_EQ(slider->thumbRect(bounds, ui::Rect::make(0, 0, c.trackWidth, 1), c.value),
                  c.thumb);
    }
}

TEST(PNSliderTest, AnArchivedSliderWakesWithAFortyPointThumbAndContinuousValues) {
    auto decoded = ui::Coder::decodeObject(
        PNSlider::className,
        ui::Coder({{"frame", ui::Coder::encodeRect(ui::Rect::make(0, 0, 200, 30))}}));
    auto slider = std::dynamic_pointer_cast<PNSlider>(decoded);
    ASSERT_TRUE(slider);
    slider->setContinuous(false);
    slider->awakeFromNib();
    EXPECT_TRUE(slider->isContinuous());
    EXPECT_TRUE(slider->isUserInteractionEnabled());
    ASSERT_TRUE(slider->thumbImage());
    EXPECT_DOUBLE_EQ(slider->thumbImage()->size().width, PNSlider::thumbImageWidth);
}

class PNNoiseViewTest : public platform::testing::VirtualTimeTest {
  protected:
    static bool allPicturesIn(const PNNoiseView& view) {
        return platform::testing::eventually([&] {
            return view.animationImages()->size() ==
                   static_cast<std::size_t>(PNNoiseView::frameCount);
        });
    }
};

TEST_F(PNNoiseViewTest, NoiseFollowsTheSeedAndPicturesHaveTheFrameSizeInWholePoints) {
    const auto bytes = PNNoiseView::noiseBytes(4, 1, 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{38, 39, 246, 133}));

    auto view = PNNoiseView::make(ui::Rect::make(0, 0, 10, 20));
    EXPECT_EQ(view->backgroundColor(), ui::Color::black());
    EXPECT_DOUBLE_EQ(view->layer()->opacity(), 0.8);
    EXPECT_EQ(view->contentMode(), ui::View::ContentMode::scaleAspectFill);
    ASSERT_TRUE(allPicturesIn(*view));
    const auto picture = view->animationImages()->front();
    EXPECT_EQ(picture->pixelWidth(), 10);
    EXPECT_EQ(picture->pixelHeight(), 20);
    EXPECT_FALSE(view->isAnimating());  // never shown

    EXPECT_EQ(
        PNNoiseView::make(ui::Rect::make(0, 0, 100.9, 2))->generatedNoiseImage()->pixelWidth(),
        100);
}

TEST_F(PNNoiseViewTest, ShownTheLoopStartsWithTheSixtiethPictureAndShowsEachForASixtiethSecond) {
    auto view = PNNoiseView::make(ui::Rect::make(0, 0, 4, 4));
    view->show();
    EXPECT_TRUE(view->isAnimating());
    ASSERT_TRUE(allPicturesIn(*view));
    EXPECT_EQ(view->displayRequests(), 1);
    const auto pictures = *view->animationImages();
    EXPECT_EQ(view->currentImage(), pictures[0]);
    advance(1.5 / 60);
    EXPECT_EQ(view->currentImage(), pictures[1]);
    advance(1.0 / 60);
    EXPECT_EQ(view->currentImage(), pictures[2]);
}

TEST_F(PNNoiseViewTest, HiddenOrEmptyViewsStartNothing) {
    auto hidden = PNNoiseView::make(ui::Rect::make(0, 0, 4, 4));
    hidden->hide();
    ASSERT_TRUE(allPicturesIn(*hidden));
    EXPECT_FALSE(hidden->isAnimating());
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_EQ(hidden->displayRequests(), 0);

    auto empty = PNNoiseView::make(ui::Rect::make(0, 0, 0.5, 20));
    EXPECT_EQ(empty->generatedNoiseImage(), nullptr);
    platform::MainThread::drain();
    ASSERT_TRUE(empty->animationImages());
    EXPECT_TRUE(empty->animationImages()->empty());
}

}  // namespace
}  // namespace pindle
