// setThumb shows a video's thumbnail on the main queue, only when the block still wants it;
// resizeImage scales by width and keeps the original for a width it cannot use.
#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "PindleCore/caches/ImageResize.hpp"
#include "PindleCore/caches/ImageViewThumb.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/ui/UIThreadChecker.hpp"

namespace pindle {
namespace {

using platform::ui::ImageView;

class ImageViewThumbTest : public ::testing::Test {
  protected:
    PNVideoPtr videoWithThumb(std::optional<platform::URL> url) {
        PNVideo::Fields fields;
        fields.videoID = "v1";
        fields.thumbnailImageURL = std::move(url);
        return PNVideo::make(std::move(fields));
    }

    PNImageCache cache_;
    PNImagesLoader loader_{cache_, platform::URLSession::shared()};
    platform::ImagePtr picture_ = platform::Image::filled(4, 4, {9, 9, 9, 255});
    const platform::URL url_ = *platform::URL::fromString("http://127.0.0.1:1/thumb.png");
};

TEST_F(ImageViewThumbTest, SetsTheImageOnTheMainQueueWhenTheBlockAgrees) {
    cache_.cache(picture_, url_);
    platform::ui::UIThreadChecker::reset();
    for (bool wanted : {true, false}) {
        auto view = ImageView::make();
        bool askedOnMain = false;
        std::thread([&] {
            setThumb(
                view, *videoWithThumb(url_),
                [&](ImageView& v) {
                    askedOnMain = platform::MainThread::isMainThread() && &v == view.get();
                    return wanted;
                },
                loader_);
        }).join();
        EXPECT_EQ(view->image(), nullptr);  // not from the loader's thread
        platform::MainThread::drain();
        EXPECT_TRUE(askedOnMain);
        EXPECT_EQ(view->image(), wanted ? picture_ : nullptr);
    }
    EXPECT_EQ(platform::ui::UIThreadChecker::offMainMutations(), 0u);
}

TEST_F(ImageViewThumbTest, NoThumbnailAddressOrAGoneViewChangesNothing) {
    cache_.cache(picture_, url_);
    auto view = ImageView::make();
    view->setImage(picture_);
    bool asked = false;
    setThumb(
        view, *videoWithThumb(std::nullopt), [&](ImageView&) { return asked = true; }, loader_);
    platform::MainThread::drain();
    EXPECT_FALSE(asked);
    EXPECT_EQ(view->image(), picture_);

    std::weak_ptr<ImageView> weak;
    std::thread([&] {
        auto temporary = ImageView::make();
        weak = temporary;
        setThumb(
            temporary, *videoWithThumb(url_), [&](ImageView&) { return asked = true; }, loader_);
    }).join();
    platform::MainThread::drain();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(asked);
}

TEST(ImageResizeTest, ScalesByWidthAndKeepsTheOriginalForAnUnusableWidth) {
    auto image = platform::Image::filled(200, 100, {1, 2, 3, 255});
    auto half = resizeImage(image, 50);
    EXPECT_EQ(half->pixelWidth(), 50);
    EXPECT_EQ(half->pixelHeight(), 25);
    for (double width : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(), 0.1})
        EXPECT_EQ(resizeImage(image, width), image) << width;
}

}  // namespace
}  // namespace pindle
