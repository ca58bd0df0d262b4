// ViewAnimation: one View::animate call: while its animations block runs it is the calling
// thread's open transaction, and every animatable change a view makes (frame, bounds,
// centre, alpha, transform, background colour) is recorded as an animation on the view's
// layer, from the old value to the new model value, which is set at once. The completion
// runs once on the main queue: with true when every recorded animation ran its delay plus
// duration on Clock (or after that time when nothing was recorded; a zero time means the
// next main-queue turn), with false as soon as one of them is removed or replaced. A negative
// or non-finite duration or delay counts as zero.
//
// Thread-safety: a transaction belongs to the thread that runs View::animate; the
// completion bookkeeping is safe from any thread. Completions run on the main queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/foundation/Value.hpp"
#include "platform/ui/BasicAnimation.hpp"

namespace pindle::platform::ui {

class Layer;

class ViewAnimation : public std::enable_shared_from_this<ViewAnimation> {
  public:
    ViewAnimation(double duration, double delay, TimingFunction timing,
                  std::function<void(bool finished)> completion);

    // The transaction open on this thread, if any.
    static std::shared_ptr<ViewAnimation> current();

    // Runs `animations` as this thread's open transaction, then schedules the completion.
    void run(const std::function<void()>& animations);
    // Records the change of `key` on `layer` from `from` (first change of a key wins).
    void record(Layer& layer, const std::string& key, Value from);

  private:
    void stopped(bool finished);

    const double duration_;
    const double delay_;
    const TimingFunction timing_;

    std::mutex mutex_;
    std::function<void(bool)> completion_;                 // guarded by mutex_
    int running_ = 0;                                      // guarded by mutex_
    bool scheduled_ = false;                               // guarded by mutex_
    std::set<std::pair<const Layer*, std::string>> keys_;  // guarded by mutex_
};

}  // namespace pindle::platform::ui
