// `play --window` on a real X server in memory: the player shows in a desktop window, and
// closing that window ends the command with success.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "support/MediaFixtures.hpp"
#include "support/XvfbServer.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::example {
namespace {

using emulator::BackendEmulator;
using nlohmann::json;

constexpr double kPatience = 30;

class ExampleHostWindowTest : public pindle::testing::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped())
            return;
        BackendEmulator::Options options;
        options.seed = false;
        emulator_ = std::make_unique<BackendEmulator>(options);
        emulator::VideoRecord video;
        video.id = "v1";
        video.title = "Video v1";
        video.identity = "alice";
        video.state = "processed";
        video.setTags({"a"});
        for (const char* resolution : emulator::VideoRecord::resolutionNames)
            video.addResolution(resolution);
        emulator_->store().put(video);
        platform::testing::ClipOptions clip;
        clip.seconds = 3;
        const std::string movie = platform::testing::clipBytes(clip);
        emulator_->videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
        std::string error;
        ASSERT_TRUE(emulator_->start(&error)) << error;
    }

    void TearDown() override {
        if (emulator_) {
            PNSession::current()->stop();
            emulator_->stop();
            PNAPIConstants::setGateway(PNAPIConstants::defaultGatewayHost, true);
        }
        DesktopTest::TearDown();
    }

    std::unique_ptr<BackendEmulator> emulator_;
};

TEST_F(ExampleHostWindowTest, ClosingTheWindowEndsPlayWindowWithSuccess) {
    std::string error;
    auto line = CommandLine::parse(
        {"play", "v1", "--window", "--gateway", "127.0.0.1:" + std::to_string(emulator_->port()),
         "--local", "--api-token", BackendEmulator::defaultAPIToken, "--identity", "tester"},
        error);
    ASSERT_TRUE(line) << error;
    std::ostringstream out;
    JsonLines lines(out);
    // Without --seconds only the close ends the command.
    std::thread closer = server().closeFirstWindowShown(kPatience);
    const int status = Commands(*line, lines, &pindleExamplePlay).run();
    closer.join();
    lines.close();
    EXPECT_EQ(status, Commands::succeeded) << out.str();
    std::set<std::string> events;
    json summary;
    std::istringstream printed(out.str());
    for (std::string text; std::getline(printed, text);) {
        json parsed = json::parse(text, nullptr, false);
        if (parsed.contains("event"))
            events.insert(parsed["event"].get<std::string>());
        summary = parsed;
    }
    EXPECT_TRUE(events.count("window")) << out.str();
    EXPECT_TRUE(events.count("closed")) << out.str();
    EXPECT_EQ(summary.value("closed", false), true) << out.str();
    EXPECT_EQ(summary.value("ok", false), true) << out.str();
}

}  // namespace
}  // namespace pindle::example
