#include "platform/audio/private/PulseContext.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "platform/audio/private/SoundServer.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/FreshProcess.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/PulseAudioServer.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::PulseAudioServer;
using pulse::PulseContext;

std::unique_ptr<PulseAudioServer> startServer() {
    std::string skip, failure;
    auto server = PulseAudioServer::start(&skip, &failure);
    if (!server && skip.empty())
        ADD_FAILURE() << failure;
    return server;
}

TEST(PulseContextTest, ConnectsToAServerAndHearsItGoAway) {
    std::string skip, failure;
    auto server = PulseAudioServer::start(&skip, &failure);
    if (!server && !skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(server) << failure;

    Error error;
    auto context = PulseContext::connect(server->address(), "test", &error);
    ASSERT_TRUE(context) << error.localizedDescription();
    EXPECT_TRUE(context->isAlive());
    std::atomic<int> ended{0};
    context->addDisconnectHandler([&] { ++ended; });

    server->kill();
    EXPECT_TRUE(pindle::testing::spinUntil([&] { return ended.load() == 1; }));
    EXPECT_FALSE(context->isAlive());
    // A handler added afterwards hears of it at once.
    int late = 0;
    context->addDisconnectHandler([&] { ++late; });
    EXPECT_EQ(late, 1);
}

TEST(PulseContextTest, NoServerIsAnAnswerNotAWait) {
    Error error;
    const std::string missing =
        "unix:" + pindle::testing::makeScratchFolder("nopulse-") + "/native";
    EXPECT_FALSE(PulseContext::connect(missing, "test", &error));
    EXPECT_NE(error.localizedDescription().find("No sound server answers"), std::string::npos)
        << error.localizedDescription();
}

TEST(SoundServerTest, SilenceIsChosenAtRunTimeAndSaidOnce) {
    // The suite runs with PINDLE_AUDIO=none.
    StandardError::Capture capture;
    EXPECT_FALSE(SoundServer::shared());
    EXPECT_FALSE(SoundServer::shared());
    ASSERT_EQ(capture.writes().size(), 1u);
    EXPECT_NE(capture.writes()[0].find("PINDLE_AUDIO=none"), std::string::npos);

    auto server = startServer();
    if (!server)
        GTEST_SKIP() << "the pulseaudio program is not installed";
    SoundServer::useServer(server->address());
    auto context = SoundServer::shared();
    ASSERT_TRUE(context);
    EXPECT_EQ(SoundServer::shared(), context);
    EXPECT_EQ(context->server(), server->address());

    // A server that went away is said once (from the connection's thread), dropped, and the
    // silence said again.
    server->kill();
    const auto said = [&](const char* text) {
        int lines = 0;
        for (const auto& line : capture.writes()) lines += line.find(text) != std::string::npos;
        return lines;
    };
    EXPECT_TRUE(pindle::testing::spinUntil([&] { return said("the sound server went away"); }));
    EXPECT_FALSE(context->isAlive());
    EXPECT_FALSE(SoundServer::shared());
    EXPECT_EQ(said("the sound server went away"), 1);
    EXPECT_EQ(said("sound is off"), 2);
    EXPECT_EQ(capture.writes().size(), 3u);
    SoundServer::useServer(std::nullopt);
}

// A process that loads and shows media but never plays it (a preloaded neighbour) never loads
// libpulse, even where sound would be chosen.
TEST(SoundServerTest, APlayerThatNeverPlaysLoadsNoSoundLibrary) {
    pindle::testing::inFreshProcess([] {
        ::setenv(SoundServer::environmentVariable, "pulse", 1);
        const std::string path = pindle::testing::makeScratchFolder("quiet-") + "/clip.mp4";
        platform::testing::ClipOptions options;
        options.seconds = 1;
        options.toneHz = 440;
        ASSERT_TRUE(platform::testing::writeClip(path, options).ok());
        auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path)));
        auto player = Player::make(item);
        ASSERT_TRUE(MainThread::runUntil(
            [&] { return item->status() == PlayerItem::Status::readyToPlay; }, 10));
        player->seek(MediaTime(1, 2));
        EXPECT_FALSE(pulse::PulseLibrary::wasLoadAttempted());
        std::ifstream maps("/proc/self/maps");
        const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
        EXPECT_EQ(mapped.find("libpulse"), std::string::npos);
    });
}

}  // namespace
}  // namespace pindle::platform
