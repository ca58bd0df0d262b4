// The main() of every test executable: the test thread becomes the main thread, so tests
// pump the main queue themselves with MainThread::drain() and MainThread::runUntil(); and the
// application's home is a fresh temporary folder, so no test reads or writes the user's own
// Documents and Library (tests that need their own folder set it themselves).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"

int main(int argc, char** argv) {
    pindle::platform::MainThread::adoptCurrentThread();
    testing::InitGoogleTest(&argc, argv);

    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("pindle-test-home-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home);
    pindle::platform::AppContainer::setHome(home.string());

    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
