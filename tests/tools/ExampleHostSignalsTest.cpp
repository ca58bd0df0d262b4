// SIGINT and SIGTERM sent to the example host as a program: `play` (in a window on a real X
// server in memory, and headless) and `record --window` wind down by themselves, within the
// host's grace, with 130 or 143 and a summary that says so; a recording interrupted is
// finished and kept.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "examples/pindle-example/Interruption.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/TestFolders.hpp"
#include "tests/support/XvfbServer.hpp"
#include "tests/tools/ExampleProgram.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::example {
namespace {

namespace fs = std::filesystem;
using emulator::BackendEmulator;
using nlohmann::json;

// How long the host may take to show its window and start, on a loaded machine.
constexpr auto startLimit = std::chrono::seconds(60);
// How long to wait for the end once signalled: past the host's own grace, after which it ends
// anyway, having failed to wind down. Whether it wound down within the grace is read from
// what it says, not from a stopwatch: a busy machine takes seconds to encode the pictures
// still queued for a recording.
constexpr auto endLimit = std::chrono::seconds(Interruption::graceSeconds + 20);
// The child's devices: no sound server or camera of the machine's, no location service.
const std::vector<std::string> quietDevices = {"PINDLE_AUDIO=none", "PINDLE_LOCATION=none",
                                               "PINDLE_CAPTURE=synthetic"};

const char* nameOf(int signal) {
    return signal == SIGINT ? "SIGINT" : "SIGTERM";
}

bool isEvent(const std::string& line, const char* event) {
    const json parsed = json::parse(line, nullptr, false);
    return parsed.is_object() && parsed.value("event", "") == event;
}

// A progress line past the video's first moments: it plays.
bool plays(const std::string& line) {
    const json parsed = json::parse(line, nullptr, false);
    return isEvent(line, "progress") && parsed.value("time", 0.0) > 0.2;
}

// The summary: the last line of standard output.
json summaryOf(const ProgramRun& run) {
    return run.out.empty() ? json() : json::parse(run.out.back(), nullptr, false);
}

// Signals `host` and waits for it to end; the run, and whether it ended within endLimit.
ProgramRun interrupt(Spawned& host, int signal) {
    host.signal(signal);
    return host.wait(std::chrono::duration_cast<std::chrono::milliseconds>(endLimit));
}

void expectInterrupted(const ProgramRun& run, int signal, const char* command) {
    EXPECT_EQ(run.status, 128 + signal) << joined(run.out) << joined(run.err);
    for (const auto& line : run.err)
        EXPECT_EQ(line.find("did not end within"), std::string::npos) << line;
    const json summary = summaryOf(run);
    EXPECT_EQ(summary.value("command", ""), command) << joined(run.out);
    EXPECT_EQ(summary.value("ok", true), false) << joined(run.out);
    EXPECT_EQ(summary.value("interrupted", ""), nameOf(signal)) << joined(run.out);
    ASSERT_TRUE(summary.contains("error")) << joined(run.out);
    EXPECT_EQ(summary["error"].value("description", ""),
              std::string("interrupted by ") + nameOf(signal));
}

class ExampleHostSignalsTest : public pindle::testing::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (IsSkipped())
            return;
        platform::testing::ClipOptions clip;
        clip.seconds = 20;
        clip.width = 180;
        clip.height = 320;
        clip.bFrames = false;
        emulator_ = emulatorServing({"v1"}, clip);
        ASSERT_TRUE(emulator_);
    }
    void TearDown() override {
        if (emulator_)
            emulator_->stop();
        DesktopTest::TearDown();
    }

    std::vector<std::string> play(std::vector<std::string> options) const {
        std::vector<std::string> arguments = {
            "--json-only", "--gateway",   "127.0.0.1:" + std::to_string(emulator_->port()),
            "--local",     "--api-token", BackendEmulator::defaultAPIToken,
            "--identity",  "tester",      "play",
            "v1"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    }

    std::unique_ptr<BackendEmulator> emulator_;
};

TEST_F(ExampleHostSignalsTest, PlayEndsPromptlyOnSigintOrSigtermInAWindowOrNot) {
    struct Case {
        std::vector<std::string> options;
        int signal;
    };
    // Without --seconds a window plays until it is closed; headless, --seconds outlasts the
    // test.
    const Case cases[] = {{{"--window"}, SIGINT},
                          {{"--window"}, SIGTERM},
                          {{"--seconds", "600"}, SIGINT},
                          {{"--seconds", "600"}, SIGTERM}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(nameOf(c.signal)) + " " + c.options.front());
        Spawned host(PINDLE_EXAMPLE_PROGRAM, play(c.options),
                     pindle::testing::makeScratchFolder("signalled-play"), quietDevices);
        ASSERT_TRUE(host.started());
        ASSERT_TRUE(host.waitForOutput(plays, startLimit))
            << joined(host.out()) << joined(host.err());
        const ProgramRun run = interrupt(host, c.signal);
        expectInterrupted(run, c.signal, "play");
        EXPECT_GT(summaryOf(run).value("played", 0.0), 0.0) << joined(run.out);
    }
}

TEST_F(ExampleHostSignalsTest, RecordWindowEndsPromptlyOnSigintOrSigtermAndKeepsTheRecording) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(nameOf(signal));
        const fs::path folder = pindle::testing::makeScratchFolder("signalled-record");
        Spawned host(PINDLE_EXAMPLE_PROGRAM,
                     {"--json-only", "record", "--window", "--synthetic", "--seconds", "600",
                      "--output", folder.string()},
                     folder, quietDevices);
        ASSERT_TRUE(host.started());
        ASSERT_TRUE(host.waitForOutput([](const auto& line) { return isEvent(line, "window"); },
                                       startLimit))
            << joined(host.out()) << joined(host.err());
        // Recording has begun once each of the three files holds its first bytes.
        const auto recording = [&] {
            int begun = 0;
            for (const auto& entry : fs::directory_iterator(folder))
                begun += entry.path().filename().string().starts_with("recording-") &&
                         entry.file_size() > 0;
            return begun == 3;
        };
        ASSERT_TRUE(host.waitUntil(recording, startLimit))
            << joined(host.out()) << joined(host.err());

        const ProgramRun run = interrupt(host, signal);
        expectInterrupted(run, signal, "record");
        const json files = summaryOf(run).value("files", json::array());
        ASSERT_EQ(files.size(), 3u) << joined(run.out);
        for (const auto& file : files) {
            const auto asset =
                platform::URLAsset::make(platform::URL::fileURLWithPath(file.get<std::string>()));
            // Finished, not cut off: a movie that reads.
            EXPECT_GT(asset->duration().seconds(), 0.0) << file;
        }
    }
}

}  // namespace
}  // namespace pindle::example
