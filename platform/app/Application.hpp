// Application: the host application's life as the SDK sees it. The host tells the SDK that
// the process is about to end by calling postWillTerminate(); parts that must not lose
// buffered state (the logging hub flushes its loggers) observe `willTerminateNotification`.
// When the system runs short of memory the host calls postDidReceiveMemoryWarning(); caches
// that can be refilled (the image cache, the player's caches) observe
// `didReceiveMemoryWarningNotification` and let go of what they hold.
//
// The key window is the window that receives the interface's events; Window sets it.
//
// The idle timer (isIdleTimerDisabled) is a flag the host reads to keep the screen awake.
// openURL() records the URLs the SDK asks the system to open (openedURLs()), since a
// headless build has nothing to hand them to; hosts may also install a handler.
// endEditing() ends text editing: the first responder resigns.
//
// Thread-safety: all operations are safe from any thread. Observers run on the thread that
// calls the post operation, before it returns (the notification center delivers
// synchronously).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // The URL that opens this application's page in the system settings.
    static constexpr const char* openSettingsURLString = "app-settings:";

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

    bool isIdleTimerDisabled() const;
    void setIdleTimerDisabled(bool disabled);

    // Records `url` and hands it to the handler, if one is set (outside the lock); true.
    bool openURL(const std::string& url);
    std::vector<std::string> openedURLs() const;
    void setOpenURLHandler(std::function<void(const std::string&)> handler);
    // Forgets the opened URLs and re-enables the idle timer (for tests).
    void reset();

    // Makes the current first responder resign; false when there was none.
    bool endEditing();

    // The interface orientation: 1 portrait (the default), 2 upside down, 3 landscape right,
    // 4 landscape left. Set by hosts and tests.
    int statusBarOrientation() const;
    void setStatusBarOrientation(int orientation);

  private:
    Application() = default;

    mutable std::mutex mutex_;
    std::weak_ptr<ui::Window> keyWindow_;                     // guarded by mutex_
    bool idleTimerDisabled_ = false;                          // guarded by mutex_
    std::vector<std::string> openedURLs_;                     // guarded by mutex_
    std::function<void(const std::string&)> openURLHandler_;  // guarded by mutex_
    int statusBarOrientation_ = 1;                            // guarded by mutex_
};

}  // namespace pindle::platform
