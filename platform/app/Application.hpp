// Application: the host application's life as the SDK sees it. The host tells the SDK that
// the process is about to end by calling postWillTerminate(); parts that must not lose
// buffered state (the logging hub flushes its loggers) observe `willTerminateNotification`.
//
// Thread-safety: all operations are safe from any thread. Observers run on the thread that
// calls postWillTerminate(), before it returns (the notification center delivers
// synchronously).
#pragma once

namespace pindle::platform {

class Application {
  public:
    static constexpr const char* willTerminateNotification =
        "UIApplicationWillTerminateNotification";

    // The process's application (created on first use, never destroyed).
    static Application& shared();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Posts `willTerminateNotification` on the default notification center, with this
    // application as nothing more than the occasion (the object is null).
    void postWillTerminate();

  private:
    Application() = default;
};

}  // namespace pindle::platform
