#include "PindleCore/caches/ImageViewThumb.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

void setThumb(const std::shared_ptr<platform::ui::ImageView>& imageView, const PNVideo& video,
              std::function<bool(platform::ui::ImageView&)> block, PNImagesLoader& loader) {
    const auto& url = video.thumbnailImageURL();
    if (!url || !imageView)
        return;
    std::weak_ptr<platform::ui::ImageView> weak = imageView;
    loader.image(*url, [weak, block = std::move(block)](const platform::ImagePtr& image) {
        if (!image)
            return;
        auto show = platform::weakly(weak, [block, image](platform::ui::ImageView& view) {
            if (!block || block(view))
                view.setImage(image);
        });
        if (platform::MainThread::isMainThread())
            show();
        else
            platform::DispatchQueue::main()->async(std::move(show));
    });
}

}  // namespace pindle
