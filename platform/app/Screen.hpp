// Screen: the device's main screen as the interface sees it: its bounds in points (375 by
// 667 by default) and its scale (2 pixels per point). Hosts and tests may set both.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <mutex>

#include "platform/foundation/Rect.hpp"

namespace pindle::platform {

class Screen {
  public:
    static Screen& main();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    ui::Rect bounds() const;
    void setBounds(const ui::Rect& bounds);
    double scale() const;
    void setScale(double scale);

  private:
    Screen() = default;

    mutable std::mutex mutex_;
    ui::Rect bounds_ = ui::Rect::make(0, 0, 375, 667);  // guarded by mutex_
    double scale_ = 2;                                  // guarded by mutex_
};

}  // namespace pindle::platform
