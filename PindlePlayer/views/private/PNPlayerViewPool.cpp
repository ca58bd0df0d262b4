#include "PindlePlayer/views/private/PNPlayerViewPool.hpp"

#include <algorithm>

namespace pindle {

void PNPlayerViewPool::fill(std::vector<ViewPtr> views) {
    std::lock_guard lock(mutex_);
    views_ = std::move(views);
    current_ = 0;
    visible_ = 0;
}

std::vector<PNPlayerViewPool::ViewPtr> PNPlayerViewPool::views() const {
    std::lock_guard lock(mutex_);
    return views_;
}

PNPlayerViewPool::ViewPtr PNPlayerViewPool::current() const {
    std::lock_guard lock(mutex_);
    if (current_ < 0 || current_ >= static_cast<int>(views_.size()))
        return nullptr;
    return views_[current_];
}

int PNPlayerViewPool::currentIndex() const {
    std::lock_guard lock(mutex_);
    return current_;
}

int PNPlayerViewPool::visibleIndex() const {
    std::lock_guard lock(mutex_);
    return visible_;
}

bool PNPlayerViewPool::isCurrent(const PNPlayerView& view) const {
    auto now = current();
    return now.get() == &view;
}

void PNPlayerViewPool::markCurrentShown() {
    std::lock_guard lock(mutex_);
    visible_ = current_;
}

PNPlayerViewPool::Switch PNPlayerViewPool::switchTo(const PNVideoPtr& video) {
    std::lock_guard lock(mutex_);
    Switch change;
    if (views_.empty())
        return change;
    change.from = views_[current_];
    if (change.from->isReadyToPlay() || change.from->isThumbShown())
        visible_ = current_;
    const auto holder = std::find_if(views_.begin(), views_.end(), [&](const ViewPtr& view) {
        return view->targetVideo() == video;
    });
    if (holder != views_.end()) {
        current_ = static_cast<int>(holder - views_.begin());
        change.held = true;
    } else if (change.from->isReadyToPlay()) {
        // Its picture stays on screen until the new one is ready: take another view.
        const int count = static_cast<int>(views_.size());
        current_ = count > 1 ? (current_ == 0 ? 1 : 0) : current_;
    }
    change.to = views_[current_];
    if (change.held)
        change.failed = hasFailed(*change.to);
    else
        failed_.erase(change.to.get());
    return change;
}

void PNPlayerViewPool::markFailed(const PNPlayerView& view, const PNVideoPtr& video) {
    std::lock_guard lock(mutex_);
    failed_[&view] = video;
}

void PNPlayerViewPool::forgetFailure(const PNPlayerView& view) {
    std::lock_guard lock(mutex_);
    failed_.erase(&view);
}

bool PNPlayerViewPool::hasFailed(const PNPlayerView& view) const {
    auto found = failed_.find(&view);
    // A view given another video since (or emptied) holds nothing that failed.
    return found != failed_.end() && found->second && found->second == view.targetVideo();
}

std::vector<PNPlayerViewPool::Assignment> PNPlayerViewPool::planNeighbours(
    const std::vector<PNVideoPtr>& window) const {
    std::lock_guard lock(mutex_);
    const std::size_t m = std::min(window.size(), views_.size());
    const std::vector<PNVideoPtr> wantedWindow(window.begin(), window.begin() + m);
    auto inWindow = [&](const PNVideoPtr& video) {
        return std::find(wantedWindow.begin(), wantedWindow.end(), video) != wantedWindow.end();
    };
    std::vector<PNVideoPtr> held;
    for (const auto& view : views_) held.push_back(view->targetVideo());
    std::vector<PNVideoPtr> wanted;
    for (const auto& video : wantedWindow)
        if (std::find(held.begin(), held.end(), video) == held.end())
            wanted.push_back(video);
    std::vector<Assignment> plan;
    auto next = wanted.begin();
    for (int i = 0; i < static_cast<int>(views_.size()) && next != wanted.end(); ++i) {
        const auto& previous = held[static_cast<std::size_t>(i)];
        if (i == visible_ || (previous && inWindow(previous)))
            continue;
        plan.push_back({views_[static_cast<std::size_t>(i)], *next++, previous});
    }
    return plan;
}

}  // namespace pindle
