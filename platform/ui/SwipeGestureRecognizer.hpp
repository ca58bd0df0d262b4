// SwipeGestureRecognizer: recognises a quick stroke in one of its permitted directions: the
// touch travels at least minimumDistance points that way, and less than half as far across.
//
// Thread-safety: as GestureRecognizer.
#pragma once

#include <atomic>

#include "platform/ui/GestureRecognizer.hpp"

namespace pindle::platform::ui {

class SwipeGestureRecognizer : public GestureRecognizer {
  public:
    // Bits of `direction`.
    struct Direction {
        static constexpr unsigned right = 1u << 0;
        static constexpr unsigned left = 1u << 1;
        static constexpr unsigned up = 1u << 2;
        static constexpr unsigned down = 1u << 3;
    };
    static constexpr double minimumDistance = 50;

    using GestureRecognizer::GestureRecognizer;

    unsigned direction() const { return direction_; }
    void setDirection(unsigned direction) { direction_ = direction; }

  protected:
    State touchesBegan(const Touch&) override { return State::possible; }
    State touchesMoved(const Touch&) override { return State::possible; }
    State touchesEnded(const Touch& touch) override;

  private:
    std::atomic<unsigned> direction_{Direction::right};
};

}  // namespace pindle::platform::ui
