#include "PindlePlayer/views/private/PNPlayerPanelBinding.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

using platform::DispatchQueue;

std::shared_ptr<PNPlayerPanelBinding> PNPlayerPanelBinding::make() {
    return std::make_shared<PNPlayerPanelBinding>(Private{});
}

void PNPlayerPanelBinding::bind(std::function<PNPlaylistPtr()> currentPlaylist) {
    std::lock_guard lock(mutex_);
    currentPlaylist_ = std::move(currentPlaylist);
}

void PNPlayerPanelBinding::attachPanel(
    std::shared_ptr<PNPlayerControlPanelControlViewController> panel) {
    std::vector<std::function<void(PNPlayerPanelBinding&)>> pending;
    {
        std::lock_guard lock(mutex_);
        panel_ = panel;
        if (panel) {
            container_ = panel->view();
            pending.swap(pending_);
        }
    }
    if (!panel)
        return;
    panel->setShowButtonsControls(showButtonsControls_);
    for (auto& action : pending) whenPanelReady(std::move(action));
}

void PNPlayerPanelBinding::attachVolumeIndicator(
    std::shared_ptr<PNPlayerVolumeIndicatorViewController> indicator) {
    std::lock_guard lock(mutex_);
    volumeIndicator_ = std::move(indicator);
}

std::shared_ptr<PNPlayerControlPanelControlViewController> PNPlayerPanelBinding::panel() const {
    std::lock_guard lock(mutex_);
    return panel_;
}

std::shared_ptr<PNPlayerVolumeIndicatorViewController> PNPlayerPanelBinding::volumeIndicator()
    const {
    std::lock_guard lock(mutex_);
    return volumeIndicator_;
}

platform::ui::ViewPtr PNPlayerPanelBinding::container() const {
    std::lock_guard lock(mutex_);
    return container_.lock();
}

void PNPlayerPanelBinding::whenPanelReady(std::function<void(PNPlayerPanelBinding&)> action) {
    {
        std::lock_guard lock(mutex_);
        if (!container_.lock()) {
            pending_.push_back(std::move(action));
            return;
        }
    }
    DispatchQueue::main()->async(platform::weakly(
        this, [action = std::move(action)](PNPlayerPanelBinding& self) { action(self); }));
}

void PNPlayerPanelBinding::setShowControls(bool show) {
    showControls_ = show;
    whenPanelReady([show](PNPlayerPanelBinding& self) {
        if (auto container = self.container())
            container->setHidden(!show);
        if (auto indicator = self.volumeIndicator(); indicator && indicator->isViewLoaded())
            indicator->view()->setHidden(!show);
    });
}

void PNPlayerPanelBinding::setShowButtonsControls(bool show) {
    showButtonsControls_ = show;
    whenPanelReady([show](PNPlayerPanelBinding& self) {
        if (auto panel = self.panel())
            panel->setShowButtonsControls(show);
    });
}

void PNPlayerPanelBinding::showButtons(const Buttons& buttons) {
    auto panel = this->panel();
    if (!panel)
        return;
    DispatchQueue::main()->async(
        platform::weakly(this, [panel, buttons](PNPlayerPanelBinding& self) {
            auto play = panel->playButton(), prev = panel->prevButton(), next = panel->nextButton();
            if (!play || !prev || !next)
                return;
            if (buttons.playlist) {
                std::function<PNPlaylistPtr()> currentPlaylist;
                {
                    std::lock_guard lock(self.mutex_);
                    currentPlaylist = self.currentPlaylist_;
                }
                const bool stillListed = currentPlaylist && currentPlaylist() != nullptr;
                const auto total = buttons.playlist->totalCount();
                play->setEnabled(stillListed);
                prev->setEnabled(buttons.index >= 1);
                next->setEnabled(stillListed && (!total || buttons.index + 1 < *total));
            } else {
                play->setEnabled(buttons.hasVideo);
                prev->setEnabled(false);
                next->setEnabled(false);
            }
            panel->setPlayPauseButtonMode(buttons.playing);
        }));
}

void PNPlayerPanelBinding::showProgress(double fraction) {
    if (auto panel = this->panel())
        panel->setProgress(fraction);
}

}  // namespace pindle
