// PNPlayerTransitions: how the player controller puts a switch on screen, on the main queue.
// The view already current is shown again once it has a picture; another view replaces the
// old one at once (the old one stops and hides), or by an animated transition (up, down,
// left, right: the views slide by one screen; fade: a cross-fade). While a transition
// animates, `isAnimating()` is true and the controller ignores switching calls; an animation
// interrupted by another never runs its completion, and every transition ends with both
// views back in place.
//
// Switches can follow each other faster than the main queue shows them (next, then straight
// back): what a switch does to its views is decided when it reaches the main queue, by what
// is current then, and so is what an animation leaves on screen when it ends (the view current
// then, and no other). A view that a later switch made current again is neither stopped nor
// hidden, and a view that is no longer current is not shown.
//
// Thread-safety: every operation is safe from any thread; view work runs on the main queue.
// The hooks are called there with no lock of this object held.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "PindlePlayer/views/PNPlayerTransition.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"

namespace pindle {

class PNPlayerTransitions : public std::enable_shared_from_this<PNPlayerTransitions> {
  public:
    struct Hooks {
        // The owner's views (a transition ends any animation left on them).
        std::function<std::vector<std::shared_ptr<PNPlayerView>>()> views;
        // The current view is now the one on screen.
        std::function<void()> currentShown;
        // Whether the view is the current one now.
        std::function<bool(const PNPlayerView& view)> isCurrent;
        // Stops a view that a switch took off screen, unless it is current again (decided so
        // that no switch can make it current between the look and the stop); true when it
        // was stopped.
        std::function<bool(PNPlayerView& view)> retire;
    };

    static std::shared_ptr<PNPlayerTransitions> make();

    void bind(Hooks hooks);
    bool isAnimating() const { return isAnimating_; }

    // Shows `to` in place of `from` (the same view, or another, at once or by `transition`),
    // then runs `completion`; after an animation only if it finished.
    void present(std::shared_ptr<PNPlayerView> from, std::shared_ptr<PNPlayerView> to,
                 std::optional<PNPlayerTransition> transition, std::function<void()> completion);
    // Animates from `from` to `to`; the completion runs only when the animation finished.
    void animate(std::shared_ptr<PNPlayerView> from, std::shared_ptr<PNPlayerView> to,
                 PNPlayerTransition transition, std::function<void()> completion);

  private:
    struct Private {};

  public:
    explicit PNPlayerTransitions(Private) {}

  private:
    Hooks hooks() const;
    // Retires `view` through the owner, or stops it when the owner says nothing.
    static bool retire(const Hooks& hooks, PNPlayerView& view);
    static bool isCurrent(const Hooks& hooks, const PNPlayerView& view);

    std::atomic<bool> isAnimating_{false};
    // Animations started so far (on the main queue): an animation that a newer one cut short
    // leaves the views to it.
    std::atomic<std::uint64_t> animations_{0};
    mutable std::mutex mutex_;
    Hooks hooks_;  // guarded by mutex_
};

}  // namespace pindle
