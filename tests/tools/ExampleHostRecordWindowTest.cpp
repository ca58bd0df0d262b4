// `record --window` on a real X server in memory: the camera's preview shows in a desktop
// window, in the shape of what is recorded, while the command records, and closing the window
// ends the recording early, keeping its files.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "PindleCore/capture/PCaptureSession.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/RecordWindow.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/dispatch/MainThread.hpp"
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
    // Asked for ten minutes, so that ending in half of that shows the close ended it; the stop
    // encodes every picture taken first, which at load under the sanitizers can take longer
    // than the host's default wait.
    auto line = CommandLine::parse({"record", "--window", "--synthetic", "--seconds", "600",
                                    "--output", folder, "--timeout", "180"},
                                   error);
    ASSERT_TRUE(line) << error;
    std::ostringstream out;
    JsonLines lines(out);
    std::thread closer = server().closeFirstWindowShown(patience);
    const auto started = std::chrono::steady_clock::now();
    const int status = Commands(*line, lines).run();
    closer.join();
    lines.close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(300));
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

// The legacy session records portrait: the preview shows its pictures upright, in a window of
// that shape.
TEST_F(ExampleHostRecordWindowTest, ThePreviewHasTheShapeOfWhatIsRecorded) {
    platform::CaptureHardware::shared().useSyntheticCameras("the test's");
    platform::CaptureHardware::shared().useSyntheticMicrophone("the test's");
    const auto capture = legacy::PCaptureSession::make();
    capture->startCaptureWithCaptureSessionMode(legacy::PCaptureModeBackCamera);
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] {
            capture->captureQueue()->sync([] {});
            return capture->state() == legacy::PCaptureSessionStateCapturing;
        },
        patience));
    const auto orientation = static_cast<platform::CaptureConnection::VideoOrientation>(
        capture->getCurrentVideoOrientation());
    ASSERT_EQ(orientation, platform::CaptureConnection::VideoOrientation::portrait);

    std::ostringstream out;
    JsonLines lines(out);
    {
        RecordWindow window(lines);
        ASSERT_TRUE(window.show(capture->captureSession(), orientation).ok()) << out.str();
        ASSERT_TRUE(platform::MainThread::runUntil(
            [&] { return window.preview()->currentFrame() != nullptr; }, patience));
        const auto picture = window.preview()->currentFrame();
        EXPECT_GT(picture->height(), picture->width());
        const auto bounds = window.preview()->bounds();
        EXPECT_GT(bounds.height(), bounds.width());
    }
    capture->stopCapture();
    capture->captureQueue()->sync([] {});
    lines.close();
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
