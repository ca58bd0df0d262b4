// PNPlayerBuffering: whether the video on screen is buffering, and the spinner that says so.
//
// The judgement is made on the current view's own queue, where the view applies its commands
// and keeps its readiness, preload mode and stall: a check asked for right after a switch
// is judged once the view has applied it, never from what the view showed before. A judgement
// whose view is no longer the current one there is dropped (the switch asked for its own).
// The delegate hears each judgement from that queue.
//
// The spinner's state lives on the main queue and is decided there: a judgement of buffering
// shows it after 1 s unless a later judgement came first; a judgement of not buffering, or a
// video that failed, hides it at once.
//
// Thread-safety: every operation is safe from any thread. The hooks are called with no lock
// of this object held.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "PindlePlayer/views/PNPlayerView.hpp"
#include "platform/ui/View.hpp"

namespace pindle {

class PNPlayerBuffering : public std::enable_shared_from_this<PNPlayerBuffering> {
  public:
    // What the owner answers; set once its views exist.
    struct Hooks {
        std::function<std::shared_ptr<PNPlayerView>()> currentView;
        // Whether the video on screen has failed (then it is not buffering).
        std::function<bool()> shownVideoFailed;
        // Tells the owner's delegate a judgement.
        std::function<void(bool buffering)> report;
    };

    static std::shared_ptr<PNPlayerBuffering> make();

    void bind(Hooks hooks);
    // The view the spinner fades in and out (at opacity 0 until shown).
    void attach(platform::ui::ViewPtr spinnerView);
    platform::ui::ViewPtr spinnerView() const;

    // Judges the current view on its queue; the spinner follows on the main queue.
    void check();

    bool showSpinner() const { return showSpinner_; }
    // Hiding the spinner's view also ends a shown spinner.
    void setShowSpinner(bool show);
    // Fades the spinner in or out on the main queue, where it is decided.
    void toggleSpinner(bool show);
    // Changes on the main queue; a mirror for readers elsewhere.
    bool isSpinnerActive() const { return isSpinnerActive_; }

  private:
    struct Private {};

  public:
    explicit PNPlayerBuffering(Private) {}

  private:
    Hooks hooks() const;
    // On the view's queue.
    void judge(const std::shared_ptr<PNPlayerView>& view);
    // On the main queue.
    void follow(bool buffering);
    void applySpinner(bool show);

    std::atomic<bool> showSpinner_{true};
    std::atomic<bool> isSpinnerActive_{false};

    mutable std::mutex mutex_;
    Hooks hooks_;                        // guarded by mutex_
    platform::ui::ViewPtr spinnerView_;  // guarded by mutex_

    // Main queue only: counts judgements, so that a delayed show yields to a later one.
    std::uint64_t judgements_ = 0;
};

}  // namespace pindle
