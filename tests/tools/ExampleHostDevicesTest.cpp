// The example host and the desktop's devices: `devices` says what the platform chose and why,
// and `record` names the camera that failed, before recording or while it records, and exits
// non-zero, keeping what it recorded.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/capture/LinuxCamera.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::example {
namespace {

using nlohmann::json;

class ExampleHostDevicesTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::CaptureHardware::shared().reset(); }
    void TearDown() override { platform::CaptureHardware::shared().reset(); }

    struct Run {
        int exitCode = -1;
        std::vector<json> lines;
    };
    Run run(const std::vector<std::string>& arguments) {
        std::string error;
        auto line = CommandLine::parse(arguments, error);
        EXPECT_TRUE(line) << error;
        if (!line)
            return {};
        std::ostringstream out;
        JsonLines lines(out);
        Run result;
        result.exitCode = Commands(*line, lines).run();
        std::istringstream text(out.str());
        for (std::string printed; std::getline(text, printed);)
            result.lines.push_back(json::parse(printed));
        return result;
    }
    static json find(const Run& run, const char* key) {
        for (const auto& line : run.lines)
            if (line.contains(key))
                return line[key];
        return nullptr;
    }
};

TEST_F(ExampleHostDevicesTest, DevicesSaysWhichFallbackWasTakenAndWhy) {
    const Run listed = run({"devices"});
    ASSERT_EQ(listed.exitCode, 0);
    // The suite forces the fallbacks, so the reasons are the variables that force them.
    EXPECT_EQ(find(listed, "cameras"), "synthetic cameras (PINDLE_CAPTURE=synthetic)");
    EXPECT_EQ(find(listed, "microphone"), "the synthetic microphone (PINDLE_CAPTURE=synthetic)");
    EXPECT_EQ(find(listed, "location"), "location services disabled (PINDLE_LOCATION=none)");
    for (const char* key : {"soundOutput", "display"})
        EXPECT_TRUE(find(listed, key).is_string()) << key;
    EXPECT_EQ(listed.lines.back(), json({{"command", "devices"}, {"ok", true}}));
}

TEST_F(ExampleHostDevicesTest, RecordNamesTheCameraThatIsMissingOrCannotStream) {
    const std::string folder = pindle::testing::makeScratchFolder("record-");
    const Run missing = run({"record", "--camera", "/dev/video-missing", "--output", folder});
    EXPECT_EQ(missing.exitCode, Commands::failed);
    EXPECT_EQ(missing.lines.back()["ok"], false);
    EXPECT_NE(
        missing.lines.back()["error"]["description"].get<std::string>().find("/dev/video-missing"),
        std::string::npos)
        << missing.lines.back().dump();

    // A camera that is listed but cannot be opened now (here: its movie is gone) is named too.
    platform::CaptureHardware::shared().useRealCameras(
        {platform::LinuxCamera::fromFile(folder + "/gone.mp4", "Gone", {{"YUYV", 640, 480, 30}})});
    const Run gone = run({"record", "--output", folder});
    EXPECT_EQ(gone.exitCode, Commands::failed);
    EXPECT_EQ(gone.lines.back()["error"]["description"].get<std::string>().rfind(
                  "camera " + folder + "/gone.mp4: ", 0),
              0u)
        << gone.lines.back().dump();

    std::string why;
    EXPECT_FALSE(CommandLine::parse({"record", "--synthetic", "--camera", "/dev/video0"}, why));
    EXPECT_EQ(why, "record takes --camera or --synthetic, not both");
}

TEST_F(ExampleHostDevicesTest, ACameraUnpluggedWhileRecordingFailsTheCommandAndKeepsTheFiles) {
    const std::string folder = pindle::testing::makeScratchFolder("record-");
    platform::testing::ClipOptions options;
    options.width = 640;
    options.height = 480;
    options.seconds = 1.5;
    options.bFrames = false;
    ASSERT_TRUE(platform::testing::writeClip(folder + "/camera.mp4", options).ok());
    platform::CaptureHardware::shared().useRealCameras({platform::LinuxCamera::fromFile(
        folder + "/camera.mp4", "File Camera", {{"YUYV", 640, 480, 30}})});

    const Run recorded = run({"record", "--seconds", "10", "--output", folder});
    EXPECT_EQ(recorded.exitCode, Commands::failed);
    const json& summary = recorded.lines.back();
    // The error is an object, as every command's: the device's own domain and code.
    EXPECT_EQ(summary["error"]["description"].get<std::string>().rfind(
                  "a capture device failed while recording: ", 0),
              0u)
        << summary.dump();
    EXPECT_TRUE(summary["error"]["domain"].is_string()) << summary.dump();
    EXPECT_TRUE(summary["error"]["code"].is_number()) << summary.dump();
    ASSERT_EQ(summary["files"].size(), 3u);
    for (const auto& file : summary["files"]) {
        const auto asset =
            platform::URLAsset::make(platform::URL::fileURLWithPath(file.get<std::string>()));
        EXPECT_GT(asset->duration().seconds(), 0.2) << file;
    }
}

}  // namespace
}  // namespace pindle::example
