#include "platform/media/PlayerItemVideoOutput.hpp"

#include "platform/media/PlayerItem.hpp"

namespace pindle::platform {

std::shared_ptr<PlayerItemVideoOutput> PlayerItemVideoOutput::make() {
    return std::make_shared<PlayerItemVideoOutput>();
}

void PlayerItemVideoOutput::setItem(std::weak_ptr<PlayerItem> item) {
    std::lock_guard lock(mutex_);
    item_ = std::move(item);
    lastCopied_.reset();
}

ImagePtr PlayerItemVideoOutput::copyImage(MediaTime itemTime, MediaTime* displayTime) {
    auto frame = copyFrame(itemTime, displayTime);
    return frame ? frame->image() : nullptr;
}

VideoFramePtr PlayerItemVideoOutput::copyFrame(MediaTime itemTime, MediaTime* displayTime) {
    std::shared_ptr<PlayerItem> item;
    {
        std::lock_guard lock(mutex_);
        item = item_.lock();
    }
    if (!item)
        return nullptr;
    MediaTime shown;
    auto frame = item->videoFrameAt(itemTime, &shown);
    if (frame) {
        std::lock_guard lock(mutex_);
        lastCopied_ = shown;
    }
    if (displayTime)
        *displayTime = frame ? shown : MediaTime::invalid();
    return frame;
}

bool PlayerItemVideoOutput::hasNewImage(MediaTime itemTime) const {
    std::shared_ptr<PlayerItem> item;
    std::optional<MediaTime> last;
    {
        std::lock_guard lock(mutex_);
        item = item_.lock();
        last = lastCopied_;
    }
    if (!item)
        return false;
    const auto frame = item->frameTimeAt(itemTime);
    return frame && (!last || *frame != *last);
}

}  // namespace pindle::platform
