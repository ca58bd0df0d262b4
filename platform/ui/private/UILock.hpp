// UILock: the one lock that guards the state of every view and layer.
//
// The tree operations touch two objects at once (a view and its superview, a layer and its
// sublayers); one lock for the whole tree rules out lock-order deadlocks between them. It
// is held only to read or write fields, never while calling out (observers, layout
// overrides, animation completions), so holding it is always brief.
//
// Thread-safety: it is the lock. Recursive, so accessors may call accessors.
#pragma once

#include <mutex>

namespace pindle::platform::ui {

class UILock {
  public:
    UILock() = delete;
    static std::recursive_mutex& mutex();
};

using UIGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace pindle::platform::ui
