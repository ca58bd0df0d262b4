// PNPlayerVolumeIndicatorViewController: shows the device's output volume as a thin bar
// and follows it while the controller exists, so the user sees the hardware buttons act
// during playback. Its view comes from the "volumeIndicator" scene of the player library's
// storyboard, which connects `volumeBar`.
//
// Thread-safety: the bar is updated in the observation handler, on the thread on which the
// audio session reports the change; the observation is guarded by an internal mutex.
#pragma once

#include <memory>
#include <mutex>

#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/ui/ProgressView.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle {

class PNPlayerVolumeIndicatorViewController : public platform::ui::ViewController {
  public:
    explicit PNPlayerVolumeIndicatorViewController(std::string nibName = {},
                                                   platform::ResourceBundlePtr bundle = nullptr);
    explicit PNPlayerVolumeIndicatorViewController(const platform::ui::Coder& coder);
    // Ends the volume observation, when the view loaded and registered one.
    ~PNPlayerVolumeIndicatorViewController() override;

    std::shared_ptr<platform::ui::ProgressView> volumeBar() const;
    // The storyboard's outlet, held weakly.
    void setVolumeBar(std::weak_ptr<platform::ui::ProgressView> bar);
    // This controller's observation of the session's "outputVolume" (its context); null
    // before the view loads.
    platform::KeyValueObservationPtr context() const;

  protected:
    // Halves the bar's thickness, shows the session's volume and starts following it.
    void viewDidLoad() override;

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<platform::ui::ProgressView> volumeBar_;  // guarded by mutex_
    platform::KeyValueObservationPtr observation_;         // guarded by mutex_
};

}  // namespace pindle
