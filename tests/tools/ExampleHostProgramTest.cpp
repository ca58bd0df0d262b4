// The example host run as a program: what its command line refuses, with which exit status and
// message, what --json-only leaves on standard output, the demo, what `play` shows and
// sounds, what a refused position changes (nothing but its own line), and a recording it
// uploads. The backend is the emulator in this process, or the
// standalone emulator as a child; the host is a child process with its standard output and
// error in files of their own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "examples/pindle-example/CommandLine.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/GeoClueStandIn.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/PrivateDBus.hpp"
#include "tests/support/PulseAudioServer.hpp"
#include "tests/support/TestFolders.hpp"
#include "tests/tools/ExampleProgram.hpp"
#include "tools/emulator/BackendEmulator.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Tokens.hpp"

namespace pindle::example {
namespace {

namespace fs = std::filesystem;
using emulator::BackendEmulator;

TEST(ExampleHostProgramTest, ABadGatewayOrSyncDateIsAUsageError) {
    const std::vector<std::string> session = {"--api-token", "t", "--identity", "i"};
    struct Case {
        std::vector<std::string> arguments;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {{"--gateway", "h:0", "list"}, "--gateway needs HOST[:PORT], not \"h:0\""},
        {{"--gateway", "h:65536", "list"}, "--gateway needs HOST[:PORT], not \"h:65536\""},
        {{"--gateway", "h:80x", "list"}, "--gateway needs HOST[:PORT], not \"h:80x\""},
        {{"--gateway", "h:+80", "list"}, "--gateway needs HOST[:PORT], not \"h:+80\""},
        {{"--gateway", "h:", "list"}, "--gateway needs HOST[:PORT], not \"h:\""},
        {{"--gateway", ":80", "list"}, "--gateway needs HOST[:PORT], not \":80\""},
        {{"--gateway", "a host:80", "list"}, "--gateway needs HOST[:PORT], not \"a host:80\""},
        {{"--gateway", "http:80", "list"}, ""},  // a host may well be called http
        {{"--gateway", "http://h:80", "list"}, "--gateway needs HOST[:PORT], not \"http://h:80\""},
        {{"--gateway", "h:80:81", "list"}, "--gateway needs HOST[:PORT], not \"h:80:81\""},
        {{"--gateway", "[::1]:8080", "list"}, ""},
        {{"--gateway", "[::1]", "list"}, ""},
        {{"--gateway", "[::1]8080", "list"}, "--gateway needs HOST[:PORT], not \"[::1]8080\""},
        {{"--gateway", "api.example.test:65535", "list"}, ""},
        {{"--gateway", "127.0.0.1", "list"}, ""},
        {{"sync", "2024-03-01T09:00:00.000Z"}, ""},
        {{"sync", "1709283600.5"}, ""},
        {{"sync", "yesterday"},
         "sync needs DATE (2024-03-01T09:00:00.000Z or seconds since 1970), not \"yesterday\""},
        {{"sync", "12abc"},
         "sync needs DATE (2024-03-01T09:00:00.000Z or seconds since 1970), not \"12abc\""},
        {{"sync", "inf"},
         "sync needs DATE (2024-03-01T09:00:00.000Z or seconds since 1970), not \"inf\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), session.begin(), session.end());
        SCOPED_TRACE(joined(arguments));
        std::string error;
        auto line = CommandLine::parse(arguments, error);
        EXPECT_EQ(line.has_value(), c.error.empty());
        EXPECT_EQ(error, c.error);
    }

    // The program says so on standard error, and nothing on standard output.
    for (const Case& c : {cases[0], cases[17]}) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), session.begin(), session.end());
        ProgramRun run = runExample(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << joined(run.out);
        EXPECT_EQ(joined(run.err), "pindle-example: " + c.error + " (see pindle-example --help)\n");
    }
}

// A session the backend refuses makes the SDK print its diagnostics, among them a dictionary
// whose text starts with "{" and is not JSON.
TEST(ExampleHostProgramTest, JsonOnlyLeavesOnlyJsonLinesOnStandardOutput) {
    BackendEmulator::Options options;
    options.seed = false;
    BackendEmulator emulator(options);
    std::string startError;
    ASSERT_TRUE(emulator.start(&startError)) << startError;
    const std::vector<std::string> refused = {
        "--gateway", "127.0.0.1:" + std::to_string(emulator.port()),
        "--local",   "--api-token",
        "wrong",     "--identity",
        "tester",    "count"};

    for (bool jsonOnly : {false, true}) {
        SCOPED_TRACE(jsonOnly ? "--json-only" : "default");
        std::vector<std::string> arguments = refused;
        if (jsonOnly)
            arguments.push_back("--json-only");
        ProgramRun run = runExample(arguments);
        EXPECT_EQ(run.status, 1);
        bool diagnosticsOnOut = false;
        bool jsonOnOut = false;
        for (const std::string& line : run.out) {
            const bool json = !nlohmann::json::parse(line, nullptr, false).is_discarded();
            jsonOnOut = jsonOnOut || json;
            diagnosticsOnOut = diagnosticsOnOut || !json;
        }
        EXPECT_TRUE(jsonOnOut) << joined(run.out);
        // Without the option, the SDK's own lines keep their place on standard output.
        EXPECT_EQ(diagnosticsOnOut, !jsonOnly) << joined(run.out);
        const std::string err = joined(run.err);
        EXPECT_EQ(err.find("Pindle Session error encountered:") != std::string::npos, jsonOnly)
            << err;
    }
    emulator.stop();
}

// The demo (and the play step inside it) lives in a module the program opens; its lines share
// the program's reserved standard output.
TEST(ExampleHostProgramTest, DemoRunsFromTheProgramsModuleOnTheReservedOutput) {
    ProgramRun run = runExample({"demo", "--json-only"});
    ASSERT_EQ(run.status, 0) << joined(run.out) << joined(run.err);
    ASSERT_FALSE(run.out.empty()) << joined(run.err);
    std::set<std::string> steps;
    for (const std::string& line : run.out) {
        auto printed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(printed.is_discarded()) << "not a JSON line: " << line;
        if (printed.contains("step"))
            steps.insert(printed["step"].get<std::string>());
    }
    EXPECT_TRUE(steps.count("play")) << joined(run.out);
    EXPECT_EQ(nlohmann::json::parse(run.out.back()),
              (nlohmann::json{{"demo", "succeeded"}, {"ok", true}}));
}

// Against the standalone emulator serving portrait movies (the sample videos' records are
// portrait, so the full-screen player's fill keeps the whole picture): the snapshot shows the
// frame of the time the host reports with it.
TEST(ExampleHostProgramTest, PlayWritesASnapshotOfTheFrameAtTheTimePlayed) {
    const fs::path media = testing::makeScratchFolder("play-media");
    platform::testing::ClipOptions clip;
    clip.width = 360;
    clip.height = 640;
    clip.seconds = 3;
    clip.bFrames = false;
    ASSERT_EQ(platform::testing::writeClip((media / "720p.mp4").string(), clip), std::nullopt);
    for (const char* rendition : {"540p.mp4", "360p.mp4"})
        fs::copy_file(media / "720p.mp4", media / rendition);

    Spawned emulator(PINDLE_EMULATOR_PROGRAM, {"--port", "0", "--media", media.string()},
                     testing::makeScratchFolder("play-emulator"));
    ASSERT_TRUE(emulator.started());
    std::string port;
    const auto deadline = std::chrono::steady_clock::now() + programLimit;
    while (port.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& line : emulator.out())
            if (line.starts_with("pindle-backend-emulator listening on http://127.0.0.1:"))
                port = line.substr(line.rfind(':') + 1);
        if (port.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(port.empty()) << joined(emulator.err());

    const fs::path snapshot = media / "shot.png";
    const std::string id = emulator::Tokens::stableUUID("sample-video-1");
    ProgramRun run = runExample({"--gateway", "127.0.0.1:" + port, "--local", "--api-token",
                                 BackendEmulator::defaultAPIToken, "--identity", "tester", "play",
                                 id, "--seconds", "1", "--snapshot", snapshot.string()});
    ASSERT_EQ(run.status, 0) << joined(run.out) << joined(run.err);
    // Without --window the host keeps its window in memory, and the log says so in its terms.
    const std::string err = joined(run.err);
    EXPECT_NE(err.find("Display: headless (play without --window)\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("PINDLE_DISPLAY"), std::string::npos) << err;
    std::set<std::string> events;
    std::optional<double> pictureTime;
    nlohmann::json summary;
    for (const auto& line : run.out) {
        auto printed = nlohmann::json::parse(line, nullptr, false);
        if (printed.is_discarded())
            continue;
        summary = printed;
        if (!printed.contains("event"))
            continue;
        events.insert(printed["event"].get<std::string>());
        if (printed["event"] == "snapshot")
            pictureTime = printed["time"].get<double>();
    }
    for (const char* event : {"ready", "progress", "snapshot"})
        EXPECT_TRUE(events.count(event)) << event << "\n" << joined(run.out);
    EXPECT_FALSE(events.count("error")) << joined(run.out);
    EXPECT_EQ(summary["ok"], true) << joined(run.out);
    ASSERT_TRUE(pictureTime) << joined(run.out);
    EXPECT_GT(*pictureTime, 0.2);  // a second of playback, less what a loaded machine stalls

    std::ifstream file(snapshot, std::ios::binary);
    const platform::Data png{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    auto image = platform::Image::fromData(png);
    ASSERT_NE(image, nullptr);
    const auto frame = platform::testing::readFrameNumber(*image);
    ASSERT_TRUE(frame) << "no frame code in the snapshot";
    EXPECT_NEAR(*frame, *pictureTime * clip.fps, 1.0) << *pictureTime;
}

// The desktop's location agent refusing the application, when the SDK asks for a client or
// when it starts one, leaves playback alone: the refusal is said once, and `devices` reports
// it.
TEST(ExampleHostProgramTest, PositionRefusedByTheDesktopLeavesPlayAloneAndDevicesSaysSo) {
    platform::testing::ClipOptions clip;
    clip.width = 180;
    clip.height = 320;
    clip.seconds = 3;
    clip.bFrames = false;
    const auto emulator = emulatorServing({"v1"}, clip);
    ASSERT_TRUE(emulator);
    std::string why;
    const std::string denied =
        "location services denied (the desktop's location agent refused this application)";

    for (const auto behaviour : {testing::GeoClueStandIn::Behaviour::refuseClient,
                                 testing::GeoClueStandIn::Behaviour::refuse}) {
        SCOPED_TRACE(behaviour == testing::GeoClueStandIn::Behaviour::refuse ? "Start"
                                                                             : "GetClient");
        auto bus = testing::PrivateDBus::start(&why);
        if (!bus)
            GTEST_SKIP() << why;
        auto standIn = testing::GeoClueStandIn::start(bus->address(), behaviour, &why);
        ASSERT_TRUE(standIn) << why;
        // The private bus stands in for the system bus; no other device of the machine's.
        const std::vector<std::string> environment = {"DBUS_SYSTEM_BUS_ADDRESS=" + bus->address(),
                                                      "PINDLE_AUDIO=none",
                                                      "PINDLE_CAPTURE=synthetic"};

        ProgramRun played =
            runExample({"--json-only", "--gateway", "127.0.0.1:" + std::to_string(emulator->port()),
                        "--local", "--api-token", BackendEmulator::defaultAPIToken, "--identity",
                        "tester", "play", "v1", "--seconds", "1"},
                       environment);
        EXPECT_EQ(played.status, 0) << joined(played.out) << joined(played.err);
        ASSERT_FALSE(played.out.empty()) << joined(played.err);
        EXPECT_EQ(nlohmann::json::parse(played.out.back()).value("ok", false), true)
            << joined(played.out);
        int refusals = 0;
        for (const auto& line : played.err) refusals += line == "pindle: location: " + denied;
        EXPECT_EQ(refusals, 1) << joined(played.err);

        ProgramRun devices = runExample({"--json-only", "devices"}, environment);
        EXPECT_EQ(devices.status, 0) << joined(devices.err);
        std::string location;
        for (const auto& line : devices.out) {
            const auto printed = nlohmann::json::parse(line, nullptr, false);
            if (printed.is_object() && printed.contains("location"))
                location = printed["location"];
        }
        EXPECT_EQ(location, denied) << joined(devices.out);
    }
    emulator->stop();
}

// With a sound server there, `play` plays the video's sound through it; `--mute` plays the
// video silently.
TEST(ExampleHostProgramTest, PlaySoundsThroughTheSoundServerUnlessMuted) {
    std::string skip, failure;
    auto server = testing::PulseAudioServer::start(&skip, &failure);
    if (!server && !skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(server) << failure;
    const fs::path media = testing::makeScratchFolder("sound-media");
    platform::testing::ClipOptions clip;
    clip.width = 180;
    clip.height = 320;
    clip.seconds = 3;
    clip.bFrames = false;
    clip.toneHz = 440;
    ASSERT_EQ(platform::testing::writeClip((media / "720p.mp4").string(), clip), std::nullopt);
    for (const char* rendition : {"540p.mp4", "360p.mp4"})
        fs::copy_file(media / "720p.mp4", media / rendition);
    Spawned emulator(PINDLE_EMULATOR_PROGRAM, {"--port", "0", "--media", media.string()},
                     testing::makeScratchFolder("sound-emulator"));
    ASSERT_TRUE(emulator.started());
    std::string port;
    const auto deadline = std::chrono::steady_clock::now() + programLimit;
    while (port.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& line : emulator.out())
            if (line.starts_with("pindle-backend-emulator listening on http://127.0.0.1:"))
                port = line.substr(line.rfind(':') + 1);
        if (port.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(port.empty()) << joined(emulator.err());

    for (const bool mute : {false, true}) {
        auto recording = testing::MonitorRecording::start(*server, &failure);
        ASSERT_TRUE(recording) << failure;
        std::vector<std::string> arguments = {"--gateway",
                                              "127.0.0.1:" + port,
                                              "--local",
                                              "--api-token",
                                              BackendEmulator::defaultAPIToken,
                                              "--identity",
                                              "tester",
                                              "play",
                                              emulator::Tokens::stableUUID("sample-video-1"),
                                              "--seconds",
                                              "1.5"};
        if (mute)
            arguments.push_back("--mute");
        ProgramRun run = runExample(arguments, {"PULSE_SERVER=" + server->address()});
        ASSERT_EQ(run.status, 0) << joined(run.out) << joined(run.err);
        const auto samples = recording->samples();
        const double recorded = static_cast<double>(samples.size()) / testing::sound::defaultRate;
        std::optional<double> loud;
        for (double at = 0; at + 0.3 <= recorded && !loud; at += 0.05)
            if (testing::sound::rms(samples, at, at + 0.3) > 0.05)
                loud = at;
        if (mute) {
            EXPECT_FALSE(loud) << "sound at " << *loud << " s of the recording";
            EXPECT_LT(testing::sound::rms(samples, 0, recorded), 1e-4);
        } else {
            ASSERT_TRUE(loud) << "no sound in " << recorded << " s recorded\n" << joined(run.err);
            EXPECT_NEAR(testing::sound::dominantFrequency(samples, *loud, *loud + 0.3), 440, 3);
        }
    }
}

// The host records from the synthetic camera and microphone in real time and hands the 720p
// file to the uploads road, which delivers it to the backend.
TEST(ExampleHostProgramTest, RecordWithUploadDeliversThe720pRecordingToTheBackend) {
    BackendEmulator::Options options;
    options.seed = false;
    BackendEmulator emulator(options);
    std::string startError;
    ASSERT_TRUE(emulator.start(&startError)) << startError;
    const fs::path folder = testing::makeScratchFolder("example-record");
    // The stop is answered once every picture taken is encoded, and the upload converts the
    // file first: under the sanitizers on a loaded machine either can outlast the default wait.
    ProgramRun run = runExample(
        {"record", "--seconds", "1", "--output", folder.string(), "--upload", "--json-only",
         "--timeout", "180", "--gateway", "127.0.0.1:" + std::to_string(emulator.port()), "--local",
         "--api-token", BackendEmulator::defaultAPIToken, "--identity", "tester"});
    ASSERT_EQ(run.status, 0) << joined(run.out) << joined(run.err);

    std::vector<std::string> recorded;
    std::string videoID;
    for (const std::string& line : run.out) {
        const auto printed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(printed.is_discarded()) << line;
        if (printed.contains("recorded"))
            recorded.push_back(printed["recorded"]);
        if (printed.value("command", "") == "upload" && printed.contains("videoID"))
            videoID = printed["videoID"];
    }
    ASSERT_EQ(recorded.size(), 3u) << joined(run.out);
    EXPECT_NE(recorded[0].find("-720p.mp4"), std::string::npos) << recorded[0];
    ASSERT_FALSE(videoID.empty()) << joined(run.out);

    // The backend has the video, and its storage the whole of a portrait 720p recording.
    ASSERT_TRUE(emulator.store().get(videoID)) << videoID;
    std::optional<std::string> sent;
    for (const char* name : {"/source.mp4", "/imported.mp4"})
        if (emulator.storage().isComplete(videoID + name))
            sent = emulator.storage().object(videoID + name);
    ASSERT_TRUE(sent) << joined(run.out);
    const fs::path copy = folder / "sent.mp4";
    std::ofstream(copy, std::ios::binary) << *sent;
    const auto asset = platform::URLAsset::make(platform::URL::fileURLWithPath(copy.string()));
    const auto video = asset->tracksWithMediaType(platform::MediaType::video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].naturalSize, (platform::Size{720, 1280}));
    EXPECT_GT(asset->duration().seconds(), 0.5);
    EXPECT_EQ(asset->tracksWithMediaType(platform::MediaType::audio).size(), 1u);
    emulator.stop();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace pindle::example
