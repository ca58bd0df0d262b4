#include "platform/ui/PlayerLayer.hpp"

#include <algorithm>
#include <chrono>

#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/UILock.hpp"
#include "platform/ui/UIThreadChecker.hpp"

namespace pindle::platform::ui {

PlayerLayerPtr PlayerLayer::make(PlayerPtr player) {
    auto layer = std::make_shared<PlayerLayer>();
    if (player)
        layer->setPlayer(std::move(player));
    return layer;
}

PlayerLayer::~PlayerLayer() {
    if (itemObservation_)
        itemObservation_->invalidate();
    if (statusObservation_)
        statusObservation_->invalidate();
}

PlayerPtr PlayerLayer::player() const {
    UIGuard lock(UILock::mutex());
    return player_;
}

void PlayerLayer::setPlayer(PlayerPtr player) {
    UIThreadChecker::recordMutation("PlayerLayer::setPlayer");
    KeyValueObservationPtr oldItem, oldStatus;
    {
        UIGuard lock(UILock::mutex());
        player_ = player;
        oldItem = std::move(itemObservation_);
        oldStatus = std::move(statusObservation_);
    }
    if (oldItem)
        oldItem->invalidate();
    if (oldStatus)
        oldStatus->invalidate();
    if (!player) {
        readyForDisplay_.set(false);
        return;
    }
    auto items =
        player->observe("currentItem", static_cast<unsigned>(KVOOption::initial),
                        weakly(this, [](PlayerLayer& self, const KVOChange& change) {
                            if (auto player = std::dynamic_pointer_cast<Player>(change.object))
                                self.itemChanged(player->currentItem());
                        }));
    auto statuses = player->observe(
        "currentItem.status", static_cast<unsigned>(KVOOption::initial),
        weakly(this, [](PlayerLayer& self, const KVOChange& change) {
            auto player = std::dynamic_pointer_cast<Player>(change.object);
            if (!player)
                return;
            auto item = player->currentItem();
            const bool ready = item && item->status() == PlayerItem::Status::readyToPlay;
            if (ready != self.isReadyForDisplay())
                self.readyForDisplay_.set(ready);
        }));
    UIGuard lock(UILock::mutex());
    if (player_ == player) {
        itemObservation_ = std::move(items);
        statusObservation_ = std::move(statuses);
    } else {
        // Replaced meanwhile by another call: these observations belong to no one.
        items->invalidate();
        statuses->invalidate();
    }
}

void PlayerLayer::itemChanged(const PlayerItemPtr& item) {
    if (!item)
        return;
    for (const auto& output : item->outputs()) {
        if (output == output_)
            return;
    }
    item->addOutput(output_);
}

VideoGravity PlayerLayer::videoGravity() const {
    UIGuard lock(UILock::mutex());
    return gravity_;
}

void PlayerLayer::setVideoGravity(VideoGravity gravity) {
    UIThreadChecker::recordMutation("PlayerLayer::setVideoGravity");
    UIGuard lock(UILock::mutex());
    gravity_ = gravity;
}

ImagePtr PlayerLayer::currentImage() const {
    PlayerPtr player = this->player();
    if (!player || !player->currentItem())
        return nullptr;
    return output_->copyImage(player->currentTime());
}

Layer::VideoContent PlayerLayer::videoContent(double hostTime) const {
    VideoContent content;
    PlayerPtr player = this->player();
    PlayerItemPtr item = player ? player->currentItem() : nullptr;
    if (!item)
        return content;
    MediaTime time = player->currentTime();
    const double rate = player->rate();
    if (rate != 0 && player->timeControlStatus() == Player::TimeControlStatus::playing) {
        const double now = std::chrono::duration<double>(Clock::current()->uptime()).count();
        const double ahead = std::clamp((hostTime - now) * rate, -1.0, 1.0);
        time = time + MediaTime::makeWithSeconds(ahead);
        if (time < MediaTime::zero())
            time = MediaTime::zero();
    }
    MediaTime shown;
    content.frame = output_->copyFrame(time, &shown);
    if (!content.frame)
        return content;
    content.frameTime = shown.seconds();
    for (const auto& track : item->asset()->tracks())
        if (track.mediaType == MediaType::video && track.nominalFrameRate > 0) {
            content.frameDuration = 1.0 / track.nominalFrameRate;
            break;
        }
    const VideoGravity gravity = videoGravity();
    content.fit = gravity == VideoGravity::resize ? GraphicsContext::ContentFit::fill
                  : gravity == VideoGravity::resizeAspectFill
                      ? GraphicsContext::ContentFit::aspectFill
                      : GraphicsContext::ContentFit::aspectFit;
    return content;
}

void PlayerLayer::drawContents(GraphicsContext& context, const Rect& bounds) const {
    Layer::drawContents(context, bounds);
    ImagePtr image = currentImage();
    if (!image)
        return;
    const VideoGravity gravity = videoGravity();
    const auto fit = gravity == VideoGravity::resize ? GraphicsContext::ContentFit::fill
                     : gravity == VideoGravity::resizeAspectFill
                         ? GraphicsContext::ContentFit::aspectFill
                         : GraphicsContext::ContentFit::aspectFit;
    context.drawImage(*image, bounds, fit, true);
}

}  // namespace pindle::platform::ui
