// PNPlayerViewPool: the player controller's fixed set of player views, which of them is
// current (the one that plays) and which is visible (the one whose picture is on screen),
// and the choice of a view for a video. Which view holds which video is read from each view's
// targetVideo(): what it was last told, set on the caller's thread, so that a choice never
// rests on what a view's queue has not yet applied (a view still loading a video counts as
// holding it; an emptied one as free).
//
// It also remembers which views failed to load the video they hold, so that a failure met
// while a view preloads a neighbour can be told when that view becomes current.
//
// The pool decides; its owner gives the views their commands.
//
// Thread-safety: every operation is safe from any thread; the indices are guarded by one
// mutex, held only while deciding and never while calling anything but the views' getters.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"

namespace pindle {

class PNPlayerViewPool {
  public:
    using ViewPtr = std::shared_ptr<PNPlayerView>;

    // A switch to a video: the view that was current, the one that is now, whether that one
    // already held the video (else it must be given it), and whether it failed to load it.
    struct Switch {
        ViewPtr from;
        ViewPtr to;
        bool held = false;
        bool failed = false;
    };
    // A free view given a neighbour to preload, and what it held before.
    struct Assignment {
        ViewPtr view;
        PNVideoPtr video;
        PNVideoPtr previous;
    };

    // Once, when the owner's view loads; the first view is current and visible.
    void fill(std::vector<ViewPtr> views);
    std::vector<ViewPtr> views() const;
    ViewPtr current() const;
    int currentIndex() const;
    int visibleIndex() const;
    bool isCurrent(const PNPlayerView& view) const;
    // The current view's picture is the one on screen now.
    void markCurrentShown();

    // Makes a view for `video` current: the view that holds it; else the current view when
    // it has no picture to keep, else another, whose failure is forgotten (it is to load the
    // video afresh). The old current view stays the visible one while it shows a picture
    // (until the switch is on screen). REQUIRES: views were filled.
    Switch switchTo(const PNVideoPtr& video);
    // The views to give the window's videos that no view holds: those not visible that hold
    // nothing of the window, in order, as many as there are.
    std::vector<Assignment> planNeighbours(const std::vector<PNVideoPtr>& window) const;

    // `view` failed to load `video`. Kept while the view holds that video, until forgotten.
    void markFailed(const PNPlayerView& view, const PNVideoPtr& video);
    // The view is about to load a video afresh: a failure before says nothing of it.
    void forgetFailure(const PNPlayerView& view);

  private:
    // REQUIRES: mutex_.
    bool hasFailed(const PNPlayerView& view) const;

    mutable std::mutex mutex_;
    std::vector<ViewPtr> views_;  // guarded by mutex_
    int current_ = 0;             // guarded by mutex_
    int visible_ = 0;             // guarded by mutex_
    // The video each view failed to load.
    std::map<const PNPlayerView*, PNVideoPtr> failed_;  // guarded by mutex_
};

}  // namespace pindle
