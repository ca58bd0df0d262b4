// PNPlayerPanelBinding: the player controller's control panel and volume indicator, kept in
// step with the controller on the main queue. Settings given before the panel exists (showing
// the controls, showing the buttons) wait for it and apply when it is attached; the buttons
// and the progress are shown from a snapshot of the controller's state taken by the caller,
// and the playlist is looked at again on the main queue, where the buttons change.
//
// Thread-safety: every operation is safe from any thread; panel work runs on the main queue,
// with no lock of this object held.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"
#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"
#include "platform/ui/View.hpp"

namespace pindle {

class PNPlayerPanelBinding : public std::enable_shared_from_this<PNPlayerPanelBinding> {
  public:
    // What the buttons show.
    struct Buttons {
        PNPlaylistPtr playlist;  // none for a single video
        std::int64_t index = 0;
        bool hasVideo = false;
        bool playing = false;
    };

    static std::shared_ptr<PNPlayerPanelBinding> make();

    // The controller's playlist now (none once it left playlist mode); read on the main queue.
    void bind(std::function<PNPlaylistPtr()> currentPlaylist);

    // Attaching the panel runs the settings that waited for it.
    void attachPanel(std::shared_ptr<PNPlayerControlPanelControlViewController> panel);
    void attachVolumeIndicator(std::shared_ptr<PNPlayerVolumeIndicatorViewController> indicator);
    std::shared_ptr<PNPlayerControlPanelControlViewController> panel() const;
    std::shared_ptr<PNPlayerVolumeIndicatorViewController> volumeIndicator() const;
    platform::ui::ViewPtr container() const;

    bool showControls() const { return showControls_; }
    void setShowControls(bool show);
    bool showButtonsControls() const { return showButtonsControls_; }
    void setShowButtonsControls(bool show);

    void showButtons(const Buttons& buttons);
    void showProgress(double fraction);

  private:
    struct Private {};

  public:
    explicit PNPlayerPanelBinding(Private) {}

  private:
    // Runs `action` on the main queue once the panel's view exists.
    void whenPanelReady(std::function<void(PNPlayerPanelBinding&)> action);

    std::atomic<bool> showControls_{true};
    std::atomic<bool> showButtonsControls_{true};

    mutable std::mutex mutex_;
    std::function<PNPlaylistPtr()> currentPlaylist_;                          // mutex_
    std::shared_ptr<PNPlayerControlPanelControlViewController> panel_;        // mutex_
    std::shared_ptr<PNPlayerVolumeIndicatorViewController> volumeIndicator_;  // mutex_
    std::weak_ptr<platform::ui::View> container_;                             // mutex_
    std::vector<std::function<void(PNPlayerPanelBinding&)>> pending_;         // mutex_
};

}  // namespace pindle
