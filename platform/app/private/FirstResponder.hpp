// FirstResponder: how the application ends text editing. The view holding the keyboard's
// focus lives in the interface folder, above the application, so the interface installs how
// it resigns as the library loads (View.cpp) and Application::endEditing() calls resign().
// Before that, during static initialisation only, there is no first responder to resign.
//
// Thread-safety: install() and resign() are safe from any thread; the installed function
// runs with no lock held, on the calling thread.
#pragma once

#include <functional>

namespace pindle::platform {

class FirstResponder {
  public:
    // Makes the current first responder resign; false when there was none.
    using Resign = std::function<bool()>;

    static void install(Resign resign);
    static bool resign();
};

}  // namespace pindle::platform
