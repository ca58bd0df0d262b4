// X11ConnectionWatch: notices that the X server went away instead of letting Xlib end the
// process. Xlib's default answer to a broken connection (an I/O error) is exit(); from
// libX11 1.7 on a program may install an exit handler that returns, after which every call on
// that connection fails quietly. watch() installs such a handler on SDL's connection (libX11
// is the one SDL loaded, found without loading it again) and a silent I/O error handler; the
// display's pump asks lost() after each turn and closes its windows.
//
// Private to platform/display. Thread-safety: watch() and lost() belong to the main
// thread; the handlers run inside Xlib calls made there, and only set an atomic flag.
#pragma once

namespace pindle::platform::display {

class X11ConnectionWatch {
  public:
    X11ConnectionWatch() = delete;

    // Watches the Xlib connection `xDisplay` (a Display*). False when this libX11 cannot
    // survive a lost connection (older than 1.7), or is not loaded.
    static bool watch(void* xDisplay);
    // True once a watched connection broke (for good: SDL is not used again after that).
    static bool lost();
};

}  // namespace pindle::platform::display
