// TapGestureRecognizer: recognises a tap: a touch that ends near where it began (within
// allowableMovement points), ending the required number of taps.
//
// Thread-safety: as GestureRecognizer.
#pragma once

#include <atomic>

#include "platform/ui/GestureRecognizer.hpp"

namespace pindle::platform::ui {

class TapGestureRecognizer : public GestureRecognizer {
  public:
    static constexpr double allowableMovement = 10;

    using GestureRecognizer::GestureRecognizer;

    int numberOfTapsRequired() const { return tapsRequired_; }
    void setNumberOfTapsRequired(int taps) { tapsRequired_ = taps; }

  protected:
    State touchesBegan(const Touch&) override { return State::possible; }
    State touchesMoved(const Touch& touch) override;
    State touchesEnded(const Touch& touch) override;

  private:
    bool near(const Touch& touch) const;

    std::atomic<int> tapsRequired_{1};
};

}  // namespace pindle::platform::ui
