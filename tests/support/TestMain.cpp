// The main() of every test executable: the test thread becomes the main thread, so tests
// pump the main queue themselves with MainThread::drain() and MainThread::runUntil().
#include <gtest/gtest.h>

#include "platform/dispatch/MainThread.hpp"

int main(int argc, char** argv) {
    pindle::platform::MainThread::adoptCurrentThread();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
