// `record --window` on a real X server in memory: the camera's preview shows in a desktop
// window while the command records, and closing the window ends the recording early, keeping
// its files.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/media/URLAsset.hpp"
#include "support/TestFolders.hpp"
#include "support/XvfbServer.hpp"

namespace pindle::example {
namespace {

using nlohmann::json;

constexpr double patience = 30;

class ExampleHostRecordWindowTest : public pindle::testing::DesktopTest {
  protected:
    void TearDown() override {
        platform::CaptureHardware::shared().reset();
        DesktopTest::TearDown();
    }
};

TEST_F(ExampleHostRecordWindowTest, ThePreviewShowsWhileRecordingAndClosingItEndsTheRecording) {
    const std::string folder = pindle::testing::makeScratchFolder("record-window-");
    std::string error;
    auto line = CommandLine::parse(
        {"record", "--window", "--synthetic", "--seconds", "60", "--output", folder}, error);
    ASSERT_TRUE(line) << error;
    std::ostringstream out;
    JsonLines lines(out);
    std::thread closer = server().closeFirstWindowShown(patience);
    const auto started = std::chrono::steady_clock::now();
    const int status = Commands(*line, lines).run();
    closer.join();
    lines.close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(50));
    EXPECT_EQ(status, Commands::succeeded) << out.str();
    std::set<std::string> events;
    json summary;
    std::istringstream printed(out.str());
    for (std::string text; std::getline(printed, text);) {
        json parsed = json::parse(text, nullptr, false);
        if (parsed.contains("event") && parsed["event"] == "window") {
            EXPECT_EQ(parsed["shown"], true) << text;
        }
        if (parsed.contains("event"))
            events.insert(parsed["event"].get<std::string>());
        summary = parsed;
    }
    EXPECT_TRUE(events.count("window")) << out.str();
    EXPECT_TRUE(events.count("closed")) << out.str();
    ASSERT_EQ(summary.value("ok", false), true) << out.str();
    ASSERT_EQ(summary["files"].size(), 3u);
    for (const auto& file : summary["files"]) {
        const auto asset =
            platform::URLAsset::make(platform::URL::fileURLWithPath(file.get<std::string>()));
        // Finished, however short: a movie that reads, not a file cut off.
        EXPECT_TRUE(asset->duration().isNumeric()) << file;
    }
}

TEST(ExampleHostRecordWindowHeadlessTest, WithoutADesktopTheWindowIsAnError) {
    // The suite runs headless: --window cannot show anything, and says so.
    const std::string folder = pindle::testing::makeScratchFolder("record-window-");
    std::string error;
    auto line =
        CommandLine::parse({"record", "--window", "--synthetic", "--output", folder}, error);
    ASSERT_TRUE(line) << error;
    std::ostringstream out;
    JsonLines lines(out);
    EXPECT_EQ(Commands(*line, lines).run(), Commands::failed);
    lines.close();
    EXPECT_NE(out.str().find("no desktop to show the preview on"), std::string::npos) << out.str();
    platform::CaptureHardware::shared().reset();
}

}  // namespace
}  // namespace pindle::example
