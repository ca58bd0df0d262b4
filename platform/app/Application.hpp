// Application: the host application's life as the SDK sees it. The host tells the SDK that
// the process is about to end by calling postWillTerminate(); parts that must not lose
// buffered state (the logging hub flushes its loggers) observe `willTerminateNotification`.
// When the system runs short of memory the host calls postDidReceiveMemoryWarning(); caches
// that can be refilled (the image cache, the player's caches) observe
// `didReceiveMemoryWarningNotification` and let go of what they hold.
//
// Thread-safety: all operations are safe from any thread. Observers run on the thread that
// calls the post operation, before it returns (the notification center delivers
// synchronously).
#pragma once

namespace pindle::platform {

class Application {
  public:
    static constexpr const char* willTerminateNotification =
        "UIApplicationWillTerminateNotification";
    static constexpr const char* didReceiveMemoryWarningNotification =
        "UIApplicationDidReceiveMemoryWarningNotification";

    // The process's application (created on first use, never destroyed).
    static Application& shared();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Posts `willTerminateNotification` on the default notification center, with this
    // application as nothing more than the occasion (the object is null).
    void postWillTerminate();
    // Posts `didReceiveMemoryWarningNotification` the same way.
    void postDidReceiveMemoryWarning();

  private:
    Application() = default;
};

}  // namespace pindle::platform
