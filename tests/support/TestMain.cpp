// The main() of every test executable: the test thread becomes the main thread, so tests
// pump the main queue themselves with MainThread::drain() and MainThread::runUntil(); and the
// application's home is a fresh folder the process owns (tests/support/TestFolders.hpp), so
// no test reads or writes the user's own Documents and Library. A test that moves the home
// must give it back: a listener fails any test that ends with another home, or that let the
// home fall back to its default, which here is a tripwire folder rather than the user's data.
// A watchdog ends the process when one test runs far too long (tests/support/TestWatchdog.hpp).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "tests/support/TestFolders.hpp"
#include "tests/support/TestWatchdog.hpp"

namespace {

class HomeGuard : public testing::EmptyTestEventListener {
  public:
    explicit HomeGuard(std::string defaultHome) : defaultHome_(std::move(defaultHome)) {}

    void OnTestEnd(const testing::TestInfo&) override {
        using pindle::platform::AppContainer;
        const std::string& expected = pindle::testing::processHome();
        // Checked before home() below, which creates the folder it resolves to.
        std::error_code ignored;
        if (std::filesystem::exists(defaultHome_, ignored)) {
            ADD_FAILURE() << "the application home fell back to its default during this test "
                             "(a test that moves the home must restore the one it found)";
            std::filesystem::remove_all(defaultHome_, ignored);
        }
        if (const std::string home = AppContainer::home(); home != expected) {
            ADD_FAILURE() << "this test left the application home at " << home << " instead of "
                          << expected;
            AppContainer::setHome(expected);
            std::filesystem::remove_all(defaultHome_, ignored);
        }
    }

  private:
    std::string defaultHome_;
};

}  // namespace

int main(int argc, char** argv) {
    pindle::platform::MainThread::adoptCurrentThread();
    testing::InitGoogleTest(&argc, argv);

    pindle::testing::setUpProcessFolder();
    // Where the home goes when a test resets it: never the user's data folder. Set before any
    // thread but this one runs.
    const std::string defaultHome = pindle::testing::processFolder() + "/default-home";
    ::setenv(pindle::platform::AppContainer::homeEnvironmentVariable, defaultHome.c_str(), 1);
    // The desktop's settings stay out of the tests: the proxy code asks gsettings, which
    // would read the user's proxy choice and write the user's settings cache.
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    // Nor the desktop's session bus: with none named, a library that asks for one (the window
    // library does) would start a bus daemon of its own and leave it running with its address
    // in the user's home. A bus that is not there is answered at once with an error.
    const std::string noSessionBus =
        "unix:path=" + pindle::testing::processFolder() + "/no-session-bus";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", noSessionBus.c_str(), 1);
    // The suite runs on the headless screen, silent playback, synthetic cameras and
    // microphone and no location service, whatever desktop it is started from; the tests of
    // the real backends start their own private servers and choose those backends themselves.
    ::setenv("PINDLE_DISPLAY", "headless", 1);
    ::setenv("PINDLE_AUDIO", "none", 1);
    ::setenv("PINDLE_CAPTURE", "synthetic", 1);
    ::setenv("PINDLE_LOCATION", "none", 1);
    testing::UnitTest::GetInstance()->listeners().Append(new HomeGuard(defaultHome));
    if (const auto limit = pindle::testing::TestWatchdog::limitFromEnvironment())
        testing::UnitTest::GetInstance()->listeners().Append(
            new pindle::testing::TestWatchdog(*limit));

    const int result = RUN_ALL_TESTS();
    pindle::testing::removeProcessFolder();
    return result;
}
