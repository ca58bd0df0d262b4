#include "platform/ui/ImageView.hpp"

namespace pindle::platform::ui {
namespace {

ContentsGravity gravityFor(View::ContentMode mode) {
    switch (mode) {
        case View::ContentMode::scaleAspectFit:
            return ContentsGravity::resizeAspect;
        case View::ContentMode::scaleAspectFill:
            return ContentsGravity::resizeAspectFill;
        case View::ContentMode::center:
            return ContentsGravity::center;
        case View::ContentMode::topLeft:
            return ContentsGravity::topLeft;
        case View::ContentMode::scaleToFill:
        case View::ContentMode::redraw:
            break;
    }
    return ContentsGravity::resize;
}

}  // namespace

std::shared_ptr<ImageView> ImageView::make(const Rect& frame) {
    return std::make_shared<ImageView>(frame);
}

std::shared_ptr<ImageView> ImageView::make(const Coder& coder) {
    auto view = std::make_shared<ImageView>(Rect::zero());
    return view->decode(coder) ? view : nullptr;
}

ImageView::ImageView(const Rect& frame) : View(frame) {}

ImagePtr ImageView::image() const {
    return layer()->contents();
}

void ImageView::setImage(ImagePtr image) {
    layer()->setContents(std::move(image));
    if (auto parent = superview())
        parent->setNeedsLayout();
}

void ImageView::setContentMode(ContentMode mode) {
    View::setContentMode(mode);
    layer()->setContentsGravity(gravityFor(mode));
}

Size ImageView::intrinsicContentSize() const {
    if (auto picture = image())
        return picture->size();
    return View::intrinsicContentSize();
}

}  // namespace pindle::platform::ui
