// PUploadsRestart: how launch() restarts the uploads a former run left unfinished. The upload
// service lives above the legacy part (it converts, stores and sends through the caches and the
// API client), so PSystem never includes it: the service installs its restart as the library
// loads (PUploadingService.cpp). A launch whose delay ends before that, which cannot happen
// after static initialisation, restarts nothing.
//
// Thread-safety: install() and run() may be called from any thread; run() runs the installed
// restart on the caller's thread with no lock held.
#pragma once

#include <functional>

namespace pindle::legacy {

class PUploadsRestart {
  public:
    using Restart = std::function<void()>;

    // An empty restart leaves the installed one in place.
    static void install(Restart restart);
    static void run();
};

}  // namespace pindle::legacy
