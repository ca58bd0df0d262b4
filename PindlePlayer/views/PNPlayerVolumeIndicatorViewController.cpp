#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"

#include "platform/foundation/Weakly.hpp"
#include "platform/media/AudioSession.hpp"

namespace pindle {

using platform::AudioSession;
namespace ui = platform::ui;

namespace {
constexpr platform::AffineTransform halfThickness{1, 0, 0, 0.5, 0, 0};
}  // namespace

PNPlayerVolumeIndicatorViewController::PNPlayerVolumeIndicatorViewController(
    std::string nibName, platform::ResourceBundlePtr bundle)
    : ViewController(std::move(nibName), std::move(bundle)) {}

PNPlayerVolumeIndicatorViewController::PNPlayerVolumeIndicatorViewController(const ui::Coder& coder)
    : ViewController(coder) {}

PNPlayerVolumeIndicatorViewController::~PNPlayerVolumeIndicatorViewController() {
    platform::KeyValueObservationPtr observation;
    {
        std::lock_guard lock(mutex_);
        observation = std::move(observation_);
    }
    if (observation)
        AudioSession::sharedInstance().removeObservation(observation);
}

std::shared_ptr<ui::ProgressView> PNPlayerVolumeIndicatorViewController::volumeBar() const {
    std::lock_guard lock(mutex_);
    return volumeBar_.lock();
}

void PNPlayerVolumeIndicatorViewController::setVolumeBar(std::weak_ptr<ui::ProgressView> bar) {
    std::lock_guard lock(mutex_);
    volumeBar_ = std::move(bar);
}

platform::KeyValueObservationPtr PNPlayerVolumeIndicatorViewController::context() const {
    std::lock_guard lock(mutex_);
    return observation_;
}

void PNPlayerVolumeIndicatorViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    view()->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto bar = volumeBar();
    if (bar) {
        bar->setTransform(halfThickness);
        bar->setProgress(AudioSession::sharedInstance().outputVolume());
    }
    auto observation = AudioSession::sharedInstance().observe(
        "outputVolume", static_cast<unsigned>(platform::KVOOption::newValue),
        platform::weakly(this, [](PNPlayerVolumeIndicatorViewController& self,
                                  const platform::KVOChange& change) {
            if (change.observation != self.context())
                return;
            // Read from the session, not from the change: the latest press wins.
            if (auto volumeBar = self.volumeBar())
                volumeBar->setProgress(AudioSession::sharedInstance().outputVolume());
        }));
    std::lock_guard lock(mutex_);
    observation_ = std::move(observation);
}

}  // namespace pindle
