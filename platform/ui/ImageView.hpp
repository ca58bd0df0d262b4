// ImageView: a view that shows one image, fitted by its content mode (scale to fill,
// aspect fit, aspect fill, centre, top left). Its natural size is the image's size.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread
// (UIThreadChecker counts the others). No callbacks.
#pragma once

#include <memory>

#include "platform/media/Image.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class ImageView : public View {
  public:
    static std::shared_ptr<ImageView> make(const Rect& frame = Rect::zero());
    // Null when the archive does not decode (as View::make(coder)).
    static std::shared_ptr<ImageView> make(const Coder& coder);

    explicit ImageView(const Rect& frame);

    ImagePtr image() const;
    void setImage(ImagePtr image);
    void setContentMode(ContentMode mode) override;
    Size intrinsicContentSize() const override;
};

}  // namespace pindle::platform::ui
