// XvfbServer: a private X server in memory for the tests of the desktop display. start()
// runs `Xvfb -displayfd` so the server itself picks a free display number, and waits until it
// answers; the destructor stops it, and the server dies with the test process in any case. The test
// reads the screen back with XGetImage and sends the mouse with XTest, as a person would use the
// window.
//
// DesktopTest is the fixture: one server for the whole suite, the display chosen again for
// each test with DISPLAY pointing at the server (and PINDLE_DISPLAY unset), and the headless
// choice restored afterwards. Where Xvfb is not installed the tests skip, saying so.
//
// Thread-safety: use from the test (main) thread only. No callbacks.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/Point.hpp"
#include "platform/media/Image.hpp"

namespace pindle::testing {

class XvfbServer {
  public:
    // A running server of one 1280x1024x24 screen; null (and `whyNot`) when Xvfb is missing
    // or does not come up.
    static std::unique_ptr<XvfbServer> start(std::string* whyNot);
    // ":N" where no X server answers: a number that has neither a socket nor a lock file.
    static std::string unusedDisplayName();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N".
    const std::string& displayName() const { return name_; }
    bool isRunning() const { return pid_ > 0; }
    // Ends the server at once, as a crash would.
    void kill();

    // The pixels of `window` (an X11 window id) as they are on the screen now; null when the
    // window cannot be read.
    platform::ImagePtr capture(std::uint64_t window);
    // The mouse, in the window's pixels: press, move, release (left button).
    void press(std::uint64_t window, platform::ui::Point at);
    void moveTo(std::uint64_t window, platform::ui::Point at);
    void release(std::uint64_t window, platform::ui::Point at);
    // Closes the first window shown on the server as a window manager would (WM_DELETE_WINDOW),
    // from a thread of its own with its own connection, for code that holds the main thread
    // while the window is up. Gives up after `seconds`; join the thread returned.
    std::thread closeFirstWindowShown(double seconds);
    // Resizes `window` as a window manager would.
    void resize(std::uint64_t window, int width, int height);
    // Presses and releases one key (an X keysym, such as XK_Escape).
    void typeKey(unsigned long keysym);

  private:
    XvfbServer() = default;
    void* connection();
    bool moveInside(std::uint64_t window, platform::ui::Point at);

    pid_t pid_ = -1;
    std::string name_;
    void* display_ = nullptr;  // our own connection, for reading and sending input
};

class DesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static XvfbServer& server() { return *server_; }

  private:
    static std::unique_ptr<XvfbServer> server_;
    static std::string whyNot_;
};

}  // namespace pindle::testing
