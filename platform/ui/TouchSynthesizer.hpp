// TouchSynthesizer: makes touches as a finger would and sends them through the window of
// the view they aim at, so hosts and tests drive controls and gesture recognisers through
// the same path as real input. Points are in the target view's coordinates; timestamps
// read Clock. A view outside any window receives nothing.
//
// Thread-safety: call on the main thread (the window delivers synchronously).
#pragma once

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class TouchSynthesizer {
  public:
    TouchSynthesizer() = delete;

    // Down and up at `point`.
    static void tap(const ViewPtr& view, Point point);
    // At the centre of the view.
    static void tap(const ViewPtr& view);
    // Down at `from`, `steps` moves to `to`, up at `to`.
    static void drag(const ViewPtr& view, Point from, Point to, int steps = 5);
    // A stroke of 100 points from the centre in one SwipeGestureRecognizer direction.
    static void swipe(const ViewPtr& view, unsigned direction);
};

}  // namespace pindle::platform::ui
