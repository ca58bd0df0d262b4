// PNLiveNotificationsLink: how the session opens the channel of live notifications once it
// has started. The notifications manager lives above the session (it reads the session's
// application id and token to connect), so the session never includes it: the manager installs
// its connection as the library loads (PNNotificationsManager.cpp). A start that completes
// before that, during static initialisation only, opens no channel.
//
// Thread-safety: install() and connect() may be called from any thread; connect() runs the
// installed connection on the caller's thread with no lock held.
#pragma once

#include <functional>

namespace pindle {

class PNLiveNotificationsLink {
  public:
    using Connection = std::function<void()>;

    // An empty connection leaves the installed one in place.
    static void install(Connection connection);
    static void connect();
};

}  // namespace pindle
