// PNPlayerViewDelegate: what a PNPlayerView tells its owner. Every method is optional: the
// defaults do nothing, and implements() tells the view which ones a delegate implements, so a
// delegate that answers false for a method never receives it. The view holds its delegate
// weakly.
//
// Thread-safety: the methods are called on the thread where the view learnt the event:
// the player's announcements (any thread), the view's own queue for the time callback, the
// main queue for a failed video. See PNPlayerView.
#pragma once

namespace pindle {

class PNPlayerView;

class PNPlayerViewDelegate {
  public:
    // One per optional method, named after it less its `pnPlayerView` prefix, in declaration
    // order.
    enum class Method {
        readyToPlay,
        buffering,
        currentTimeChanged,
        playStateDidChange,
        failedToPlay,
        didPlayToEnd,
    };

    virtual ~PNPlayerViewDelegate() = default;

    // Whether the delegate implements `method`; all of them by default. A delegate that
    // answers false for a method never receives it.
    virtual bool implements(Method /*method*/) const { return true; }

    // The current item is ready to play; isReadyToPlay() has just become true.
    virtual void pnPlayerViewReadyToPlay(PNPlayerView& /*view*/) {}
    // True when playback stalls; false when enough is buffered again.
    virtual void pnPlayerViewBuffering(PNPlayerView& /*view*/, bool /*buffering*/) {}
    // Every 0.03 s of media time while playing and not in preload mode.
    virtual void pnPlayerViewCurrentTimeChanged(PNPlayerView& /*view*/) {}
    // The player's time-control status changed while it is ready to play.
    virtual void pnPlayerViewPlayStateDidChange(PNPlayerView& /*view*/) {}
    // The video has no playable source; `error` is a PNError raw value (9: unavailable).
    virtual void pnPlayerViewFailedToPlay(PNPlayerView& /*view*/, int /*error*/) {}
    // The current item played to its end.
    virtual void pnPlayerViewDidPlayToEnd(PNPlayerView& /*view*/) {}
};

}  // namespace pindle
