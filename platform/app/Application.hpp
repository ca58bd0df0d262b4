// Application: the host application's life as the SDK sees it. The host tells the SDK that
// the process is about to end by calling postWillTerminate(); parts that must not lose
// buffered state (the logging hub flushes its loggers) observe `willTerminateNotification`.
// When the system runs short of memory the host calls postDidReceiveMemoryWarning(); caches
// that can be refilled (the image cache, the player's caches) observe
// `didReceiveMemoryWarningNotification` and let go of what they hold.
//
// The key window is the window that receives the interface's events; Window sets it.
//
// Thread-safety: all operations are safe from any thread. Observers run on the thread that
// calls the post operation, before it returns (the notification center delivers
// synchronously).
#pragma once

#include <memory>
#include <mutex>

namespace pindle::platform {

namespace ui {
class Window;
}

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

    // The window that last became key (Window::makeKeyAndVisible), while it lives.
    std::shared_ptr<ui::Window> keyWindow() const;
    void setKeyWindow(const std::shared_ptr<ui::Window>& window);

    // The interface orientation: 1 portrait (the default), 2 upside down, 3 landscape right,
    // 4 landscape left. Set by hosts and tests.
    int statusBarOrientation() const;
    void setStatusBarOrientation(int orientation);

  private:
    Application() = default;

    mutable std::mutex mutex_;
    std::weak_ptr<ui::Window> keyWindow_;  // guarded by mutex_
    int statusBarOrientation_ = 1;         // guarded by mutex_
};

}  // namespace pindle::platform
