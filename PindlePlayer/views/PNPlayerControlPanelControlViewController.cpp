#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

using platform::DispatchQueue;
namespace ui = platform::ui;

PNPlayerControlPanelControlViewController::PNPlayerControlPanelControlViewController(
    std::string nibName, platform::ResourceBundlePtr bundle)
    : ViewController(std::move(nibName), std::move(bundle)) {}

PNPlayerControlPanelControlViewController::PNPlayerControlPanelControlViewController(
    const ui::Coder& coder)
    : ViewController(coder) {}

std::shared_ptr<PNPlayerControlPanelControlViewControllerProtocol>
PNPlayerControlPanelControlViewController::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void PNPlayerControlPanelControlViewController::setDelegate(
    std::weak_ptr<PNPlayerControlPanelControlViewControllerProtocol> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<ui::Button> PNPlayerControlPanelControlViewController::playButton() const {
    std::lock_guard lock(mutex_);
    return outlets_.playButton.lock();
}

std::shared_ptr<ui::Button> PNPlayerControlPanelControlViewController::pauseButton() const {
    std::lock_guard lock(mutex_);
    return outlets_.pauseButton.lock();
}

std::shared_ptr<ui::Button> PNPlayerControlPanelControlViewController::prevButton() const {
    std::lock_guard lock(mutex_);
    return outlets_.prevButton.lock();
}

std::shared_ptr<ui::Button> PNPlayerControlPanelControlViewController::nextButton() const {
    std::lock_guard lock(mutex_);
    return outlets_.nextButton.lock();
}

std::shared_ptr<ui::Slider> PNPlayerControlPanelControlViewController::slider() const {
    std::lock_guard lock(mutex_);
    return outlets_.slider.lock();
}

void PNPlayerControlPanelControlViewController::connectOutlets(Outlets outlets) {
    std::lock_guard lock(mutex_);
    outlets_ = std::move(outlets);
}

void PNPlayerControlPanelControlViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    view()->setTranslatesAutoresizingMaskIntoConstraints(false);
}

void PNPlayerControlPanelControlViewController::setShowButtonsControls(bool show) {
    showButtonsControls_ = show;
    DispatchQueue::main()->async(platform::weakly(
        this, [](PNPlayerControlPanelControlViewController& self) { self.applyVisibility(true); }));
}

void PNPlayerControlPanelControlViewController::setPlayPauseButtonMode(bool playing) {
    playing_ = playing;
    applyVisibility(false);
}

void PNPlayerControlPanelControlViewController::applyVisibility(bool allFour) {
    const bool show = showButtonsControls_;
    const bool isPlaying = playing_;
    if (auto b = playButton())
        b->setHidden(isPlaying || !show);
    if (auto b = pauseButton())
        b->setHidden(!isPlaying || !show);
    if (!allFour)
        return;
    if (auto b = prevButton())
        b->setHidden(!show);
    if (auto b = nextButton())
        b->setHidden(!show);
}

void PNPlayerControlPanelControlViewController::setProgress(double progress) {
    if (dragging_)
        return;
    auto bar = slider();
    if (!bar)
        return;
    DispatchQueue::main()->async(
        [bar, progress] { bar->setValue(static_cast<float>(progress), progress != 0); });
}

void PNPlayerControlPanelControlViewController::playPauseTap(ui::Control&) {
    if (auto d = delegate())
        d->playerControlPanelControlViewControllerPlayPauseTap(*this);
}

void PNPlayerControlPanelControlViewController::prevTap(ui::Control&) {
    if (auto d = delegate())
        d->playerControlPanelControlViewControllerPrevTap(*this);
}

void PNPlayerControlPanelControlViewController::nextTap(ui::Control&) {
    if (auto d = delegate())
        d->playerControlPanelControlViewControllerNextTap(*this);
}

void PNPlayerControlPanelControlViewController::draggingStarted(ui::Control&) {
    dragging_ = true;
}

void PNPlayerControlPanelControlViewController::dragged(ui::Control&) {
    auto bar = slider();
    if (auto d = delegate(); d && bar)
        d->playerControlPanelControlViewControllerSliderDragged(*this,
                                                                static_cast<double>(bar->value()));
    dragging_ = false;
}

void PNPlayerControlPanelControlViewController::draggingCancelled(ui::Control&) {
    dragging_ = false;
}

}  // namespace pindle
