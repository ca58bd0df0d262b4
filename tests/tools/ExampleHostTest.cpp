// End-to-end tests of the example host: its demo and its commands, run in-process against
// the backend emulator on loopback, checked through the JSON lines they print.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/Demo.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/location/Location.hpp"
#include "platform/media/Image.hpp"
#include "platform/photos/PhotoLibrary.hpp"
#include "support/MediaFixtures.hpp"
#include "support/TemporaryHome.hpp"
#include "tests/support/TestFolders.hpp"
#include "tools/emulator/BackendEmulator.hpp"
#include "tools/emulator/Fault.hpp"
#include "tools/emulator/Response.hpp"

namespace pindle::example {
namespace {

using emulator::BackendEmulator;
using nlohmann::json;

std::vector<json> parseLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        json parsed = json::parse(line, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << "not a JSON line: " << line;
        lines.push_back(std::move(parsed));
    }
    return lines;
}

// Every entry of `expected` (nested ones too) is in `actual` with the same value.
void expectContains(const json& actual, const json& expected) {
    json flat = actual.flatten();
    json wanted = expected.flatten();
    for (const auto& [pointer, value] : wanted.items()) {
        ASSERT_TRUE(flat.contains(pointer)) << pointer << " missing from " << actual.dump();
        EXPECT_EQ(flat[pointer], value) << pointer << " in " << actual.dump();
    }
}

TEST(ExampleHostTest, DemoWalksEveryStepAgainstTheEmbeddedEmulator) {
    const std::string gatewayBefore = PNAPIConstants::gatewayHost();
    const bool secureBefore = PNAPIConstants::isSecure();
    std::ostringstream out;

    ASSERT_EQ(runDemo(out), 0) << out.str();

    std::vector<std::string> steps;
    std::vector<std::string> states;
    std::vector<json> lines = parseLines(out.str());
    for (const json& line : lines) {
        if (line.contains("event")) {
            EXPECT_EQ(line["event"], "PNAccountStateChanged");
            states.push_back(line["state"]);
        } else if (line.contains("step")) {
            EXPECT_EQ(line["ok"], true) << line.dump();
            steps.push_back(line["step"]);
        }
    }
    const std::vector<std::string> expectedSteps = {"emulator", "session", "list",   "page",
                                                    "page",     "paging",  "get",    "download",
                                                    "play",     "delete",  "upload", "stop"};
    EXPECT_EQ(steps, expectedSteps);
    EXPECT_EQ(states, (std::vector<std::string>{"starting", "started", "stopped"}));
    ASSERT_FALSE(lines.empty());
    expectContains(lines.back(), {{"demo", "succeeded"}, {"ok", true}});

    for (const json& line : lines) {
        if (line.value("step", "") == "paging")
            expectContains(line, {{"seen", 25}, {"totalCount", 25}});
        if (line.value("step", "") == "download")
            expectContains(line, {{"bytes", 1024}});
        if (line.value("step", "") == "delete")
            expectContains(line, {{"before", 25}, {"remaining", 24}});
        if (line.value("step", "") == "play") {
            expectContains(line, {{"ready", true}});
            EXPECT_GT(line["time"].get<double>(), 0) << line.dump();
        }
        if (line.value("step", "") == "upload") {
            EXPECT_EQ(line["video"]["title"], "Demo clip");
            EXPECT_TRUE(line["video"]["mp4"].contains("720p")) << line.dump();
        }
    }
    EXPECT_EQ(PNAPIConstants::gatewayHost(), gatewayBefore);
    EXPECT_EQ(PNAPIConstants::isSecure(), secureBefore);
    EXPECT_EQ(PNSession::current()->state(), PNSessionState::stopped);
}

class ExampleCommandsTest : public ::testing::Test {
  protected:
    // The host's wait, in seconds, for commands whose work is encoding: ample for a loaded
    // machine running the instrumented build, where encoding runs many times slower.
    static constexpr const char* kInstrumentedPatience = "180";

    static constexpr std::int64_t firstCreatedAt = 1709283600000;  // 2024-03-01T09:00:00Z
    static constexpr std::int64_t hour = 3600 * 1000;

    void SetUp() override {
        BackendEmulator::Options options;
        options.seed = false;
        options.clock = [] {
            return firstCreatedAt + 10 * hour;
        };
        emulator_ = std::make_unique<BackendEmulator>(options);
        putVideo("v1", "alice", {"a"}, {{"k", "v"}}, 0);
        putVideo("v2", "bob", {"a", "b"}, {{"k", "w"}}, 1);
        putVideo("v3", "alice", {"b"}, {{"k", "v"}}, 2);
        std::string error;
        ASSERT_TRUE(emulator_->start(&error)) << error;
        gateway_ = "127.0.0.1:" + std::to_string(emulator_->port());
    }

    void TearDown() override {
        PNSession::current()->stop();
        emulator_->stop();
        PNAPIConstants::setGateway(PNAPIConstants::defaultGatewayHost, true);
    }

    void putVideo(const std::string& id, const std::string& identity, std::vector<std::string> tags,
                  std::map<std::string, std::string> metadata, std::int64_t hoursAfterFirst) {
        emulator::VideoRecord video;
        video.id = id;
        video.title = "Video " + id;
        video.identity = identity;
        video.state = "processed";
        video.setTags(std::move(tags));
        video.metadata = std::move(metadata);
        video.createdAt = firstCreatedAt + hoursAfterFirst * hour;
        video.updatedAt = video.createdAt;
        video.shotOn = video.createdAt;
        for (const char* resolution : emulator::VideoRecord::resolutionNames)
            video.addResolution(resolution);
        emulator_->store().put(video);
    }

    struct Run {
        int exitCode = -1;
        std::vector<std::string> ids;  // of the {"video": ...} lines, in order
        std::vector<json> printed;     // every line
        json summary;                  // the last line
    };

    // Runs one command with the gateway in local mode and the given session options.
    Run run(std::vector<std::string> arguments,
            std::vector<std::string> session = {"--api-token", BackendEmulator::defaultAPIToken,
                                                "--identity", "tester"}) {
        arguments.insert(arguments.end(), {"--gateway", gateway_, "--local"});
        arguments.insert(arguments.end(), session.begin(), session.end());
        std::string error;
        auto line = CommandLine::parse(arguments, error);
        EXPECT_TRUE(line) << error;
        if (!line)
            return {};
        std::ostringstream out;
        JsonLines lines(out);
        Run result;
        result.exitCode = Commands(*line, lines, &pindleExamplePlay).run();
        for (const json& printed : parseLines(out.str())) {
            if (printed.contains("video") && !printed.contains("command"))
                result.ids.push_back(printed["video"]["id"]);
            result.printed.push_back(printed);
            result.summary = printed;
        }
        return result;
    }

    std::unique_ptr<BackendEmulator> emulator_;
    std::string gateway_;
};

TEST_F(ExampleCommandsTest, EachCommandPrintsItsRecordsAndASummary) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::vector<std::string> ids;
        json summary;
    };
    const Case cases[] = {
        {{"get", "v2"}, 0, {}, {{"ok", true}, {"video", {{"id", "v2"}, {"tags", {"a", "b"}}}}}},
        {{"get", "missing"}, 1, {}, {{"ok", false}, {"error", {{"statusCode", 404}}}}},
        {{"list"}, 0, {"v3", "v2", "v1"}, {{"command", "list"}, {"count", 3}, {"totalCount", 3}}},
        {{"list", "--owner", "alice", "--sort", "asc"}, 0, {"v1", "v3"}, {{"totalCount", 2}}},
        {{"list", "--per-page", "1", "--page", "2", "--sort", "asc"},
         0,
         {"v2"},
         {{"count", 1}, {"totalCount", 3}}},
        {{"list", "--title", "Video v2"}, 0, {"v2"}, {{"totalCount", 1}}},
        {{"by-tags", "--tags", "a", "--metadata", "k=v"}, 0, {"v1"}, {{"totalCount", 1}}},
        {{"by-identity", "bob"}, 0, {"v2"}, {{"command", "by-identity"}, {"totalCount", 1}}},
        {{"count", "--tags", "b"}, 0, {}, {{"command", "count"}, {"count", 2}}},
        {{"sync", "2024-03-01T09:30:00.000Z"},
         0,
         {},
         {{"ok", true}, {"changes", {{"deleted", json::array()}}}}},
        {{"download", "v1", "--offset", "10", "--length", "100", "--resolution", "360p"},
         0,
         {},
         {{"ok", true}, {"offset", 10}, {"bytes", 100}}},
        {{"download", "missing"}, 1, {}, {{"ok", false}, {"error", {{"statusCode", 404}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0] + (c.arguments.size() > 1 ? " " + c.arguments[1] : ""));
        Run result = run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.ids, c.ids);
        expectContains(result.summary, c.summary);
    }

    // The ids of the created videos since half past nine: v2 and v3, not v1.
    Run sync = run({"sync", "2024-03-01T09:30:00.000Z"});
    std::vector<std::string> created;
    for (const json& entry : sync.summary["changes"]["created"]) created.push_back(entry["id"]);
    std::sort(created.begin(), created.end());
    EXPECT_EQ(created, (std::vector<std::string>{"v2", "v3"}));

    Run byIds = run({"by-ids", "v3", "v1"});
    std::sort(byIds.ids.begin(), byIds.ids.end());
    EXPECT_EQ(byIds.ids, (std::vector<std::string>{"v1", "v3"}));
}

// A list's lines are written without a JSON object per record: their text must be the very
// text the object would give, whatever the record holds (escapes, other scripts, bad UTF-8,
// fractions, fields left out).
TEST(JsonLinesTest, AVideosTextIsTheTextOfItsJSONObject) {
    const auto url = [](const char* text) {
        return platform::URL::fromString(text);
    };
    PNVideo::Fields plain;
    plain.videoID = "v1";
    plain.shotOn = platform::Date::fromTimeIntervalSince1970(1'700'000'000.0);
    PNVideo::Fields full = plain;
    full.videoID = "v\"2\\";
    full.title = "line\nbreak \t caf\xC3\xA9 \xF0\x9F\x98\x80 bad \xFF\xC3 end \x01";
    full.videoDescription = "</script> & 'quotes'";
    full.tags = {"b", "a", "\xE2\x82\xAC"};
    full.metadata = {{"k", "v"}, {"z\"", "\x7F"}};
    full.width = 720;
    full.height = -1280;
    full.duration = 12.345678901234567;
    full.location =
        platform::Location(52.520008, -0.1, platform::Date::fromTimeIntervalSince1970(0));
    full.creationDate = platform::Date::fromTimeIntervalSince1970(1'600'000'000.125);
    full.modifyDate = platform::Date::fromTimeIntervalSince1970(1'650'000'000.5);
    full.transcription = "";
    full.thumbnailImageURL = url("https://cdn.example/t.png?a=1&b=%20");
    full.shareURL = url("https://share.example/v2");
    full.mediaMP4URL540p = url("https://cdn.example/540p.mp4");
    full.mediaMP4URL360p = url("https://cdn.example/360p.mp4");
    full.state = PNVideoState::processed;
    for (const PNVideo::Fields& fields : {plain, full}) {
        const auto video = PNVideo::make(fields);
        EXPECT_EQ(JsonLines::videoText(*video),
                  JsonLines::video(*video).dump(-1, ' ', false,
                                                nlohmann::json::error_handler_t::replace));
    }

    // A list goes out as one line per record, in order, with nothing between them.
    std::ostringstream out;
    JsonLines lines(out);
    lines.printVideos({PNVideo::make(plain), PNVideo::make(full)});
    std::istringstream written(out.str());
    std::vector<std::string> ids;
    for (std::string line; std::getline(written, line);)
        ids.push_back(json::parse(line).at("video").at("id"));
    EXPECT_EQ(ids, (std::vector<std::string>{"v1", "v\"2\\"}));
}

TEST_F(ExampleCommandsTest, DownloadWritesTheWholeRangeToTheOutputFile) {
    // Several chunks long, with bytes that differ by position, so a lost, repeated or
    // reordered chunk shows.
    std::string media(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < media.size(); ++i) media[i] = static_cast<char>((i * 7919) >> 8);
    emulator_->server().media().add("/files/big.mp4", media);
    const std::filesystem::path folder = pindle::testing::makeScratchFolder("example-download-");
    const std::string url = "http://" + gateway_ + "/files/big.mp4";

    struct Case {
        std::string offset, length;
        std::size_t first, count;
    };
    const Case cases[] = {{"0", "0", 0, media.size()}, {"1000", "2000000", 1000, 2000000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset + "+" + c.length);
        const std::string output = (folder / ("out-" + c.offset)).string();
        Run result =
            run({"download", url, "--offset", c.offset, "--length", c.length, "--output", output});
        EXPECT_EQ(result.exitCode, 0);
        expectContains(result.summary, {{"ok", true}, {"bytes", c.count}, {"output", output}});
        std::ifstream in(output, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), {});
        EXPECT_TRUE(written == media.substr(c.first, c.count)) << written.size() << " bytes";
    }

    Run unwritable = run({"download", url, "--output", (folder / "missing" / "out").string()});
    EXPECT_EQ(unwritable.exitCode, 1);
    expectContains(unwritable.summary, {{"ok", false}});
    std::filesystem::remove_all(folder);
}

TEST_F(ExampleCommandsTest, RecordWritesEachResolutionWithoutASession) {
    const std::string folder = platform::AppContainer::temporaryDirectory() + "/recordings";
    // Every picture taken before the stop is encoded at three sizes before the stop is
    // answered; at load under the sanitizers that backlog takes longer than the default wait.
    Run offline = run(
        {"record", "--seconds", "0.3", "--output", folder, "--timeout", kInstrumentedPatience}, {});
    ASSERT_EQ(offline.exitCode, 0) << offline.summary.dump();
    ASSERT_EQ(offline.summary["files"].size(), 3u);
    for (const auto& file : offline.summary["files"])
        EXPECT_GT(std::filesystem::file_size(file.get<std::string>()), 0u) << file;
}

TEST_F(ExampleCommandsTest, DeleteRemovesTheVideoFromLaterCalls) {
    EXPECT_EQ(run({"delete", "v2"}).exitCode, 0);
    expectContains(run({"count"}).summary, {{"count", 2}});
    expectContains(run({"get", "v2"}).summary, {{"error", {{"statusCode", 404}}}});
    EXPECT_EQ(run({"delete", "v2"}).exitCode, 1);
}

TEST_F(ExampleCommandsTest, SessionsStartFromEitherTokenAndRefuseUnknownOnes) {
    Run fromAPIToken = run({"session"});
    EXPECT_EQ(fromAPIToken.exitCode, 0);
    expectContains(
        fromAPIToken.summary,
        {{"state", "started"}, {"identity", "tester"}, {"appID", BackendEmulator::defaultAppID}});

    Run fromSessionToken = run({"count"}, {"--session-token", emulator_->openSession("carol")});
    expectContains(fromSessionToken.summary, {{"ok", true}, {"count", 3}});

    Run unknownAPIToken = run({"count"}, {"--api-token", "wrong", "--identity", "tester"});
    EXPECT_EQ(unknownAPIToken.exitCode, 1);
    expectContains(unknownAPIToken.summary,
                   {{"stage", "session"}, {"error", {{"statusCode", 401}}}});

    Run unknownSessionToken = run({"count"}, {"--session-token", "wrong"});
    EXPECT_EQ(unknownSessionToken.exitCode, 1);
    expectContains(unknownSessionToken.summary, {{"error", {{"statusCode", 401}}}});
}

TEST_F(ExampleCommandsTest, ACountWhoseReplyIsNotJSONFails) {
    run({"session"});
    emulator_->server().addReply("GET", "/v1/videos", emulator::Response::text(200, "<html/>"), 1);
    Run count = run({"count"});
    EXPECT_EQ(count.exitCode, 1);
    expectContains(count.summary, {{"ok", false}});
}

TEST_F(ExampleCommandsTest, AnErrorStatusSaysWhatTheBackendAnswered) {
    run({"session"});
    emulator_->server().addReply(
        "GET", "/v1/videos", emulator::Response::text(503, "resting, try later\r\nsecond line"), 1);
    Run count = run({"count", "--tags", "a"});
    EXPECT_EQ(count.exitCode, 1);
    expectContains(count.summary,
                   {{"ok", false},
                    {"error",
                     {{"domain", PNRequester::statusErrorDomain},
                      {"code", -1},
                      {"statusCode", 503},
                      {"description", "HTTP 503 from GET /v1/videos: resting, try later"}}}});
}

TEST_F(ExampleCommandsTest, AReplyThatNeverEndsTimesOutInsteadOfHangingTheHost) {
    run({"session"});  // the session request itself is not stalled
    emulator_->server().addFault("/v1/videos", emulator::Fault::stallAfter(1));
    Run stalled = run({"count", "--timeout", "0.3"});
    EXPECT_EQ(stalled.exitCode, 1);
    expectContains(
        stalled.summary,
        {{"error",
          {{"domain", platform::URLError::domain}, {"code", platform::URLError::timedOut}}}});
}

TEST_F(ExampleCommandsTest, PlayPrintsThePlayersEventsAndWritesASnapshot) {
    platform::testing::ClipOptions clip;
    clip.width = 320;
    clip.height = 240;
    clip.seconds = 3;
    // Every rendition: the loader picks one by the measured throughput.
    const std::string movie = platform::testing::clipBytes(clip);
    emulator_->videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
    const auto folder = pindle::testing::makeScratchFolder("play-");
    const std::string snapshot = folder + "/shot.png";

    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"play", "v1", "--seconds", "1", "--snapshot", snapshot},
             {"play", "--playlist", "a", "--seconds", "1"}}) {
        SCOPED_TRACE(arguments[1]);
        std::vector<std::string> all = arguments;
        all.insert(all.end(), {"--gateway", gateway_, "--local", "--api-token",
                               BackendEmulator::defaultAPIToken, "--identity", "tester"});
        std::string error;
        auto line = CommandLine::parse(all, error);
        ASSERT_TRUE(line) << error;
        std::ostringstream out;
        JsonLines lines(out);
        EXPECT_EQ(Commands(*line, lines, &pindleExamplePlay).run(), Commands::succeeded)
            << out.str();
        lines.close();
        std::set<std::string> events;
        json summary;
        for (const json& printed : parseLines(out.str())) {
            if (printed.contains("event"))
                events.insert(printed["event"].get<std::string>());
            summary = printed;
        }
        EXPECT_TRUE(events.count("ready")) << out.str();
        EXPECT_TRUE(events.count("progress")) << out.str();
        expectContains(summary, {{"command", "play"}, {"ok", true}, {"ready", true}});
        EXPECT_GT(summary["time"].get<double>(), 0);
    }
    std::ifstream file(snapshot, std::ios::binary);
    const platform::Data png{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    auto image = platform::Image::fromData(png);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelWidth(), 375);
    EXPECT_EQ(image->pixelHeight(), 667);
    std::filesystem::remove_all(folder);
}

// `play` counts playback, not wall time, ends with the playlist, and says what went wrong: a
// link too slow to play, media that cannot play. Each case runs real media in real time.
TEST_F(ExampleCommandsTest, PlayCountsPlaybackAndReportsWhatStoppedIt) {
    platform::testing::ClipOptions clip;
    clip.width = 320;
    clip.height = 240;
    clip.seconds = 3;
    // At a known bit rate (about 250 KB a second), of which the movie's header is a small part
    // that a slow link still brings in its first tenth of a second.
    clip.noise = true;
    const std::string movie = platform::testing::clipBytes(clip);
    ASSERT_FALSE(movie.empty());
    const auto bytesPerSecond = movie.size() / static_cast<std::size_t>(clip.seconds);
    const std::vector<std::string> renditions{"720p", "540p", "360p"};
    auto eachRendition = [&](const std::string& id, const std::function<void(std::string)>& add) {
        for (const auto& name : renditions) add("/media/" + id + "/" + name + ".mp4");
    };

    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        std::function<void()> arrange;
        int exitCode;
        json summary;
        bool errorEvent;
        double minimumTime;  // of the summary
    };
    const Case cases[] = {
        // At half the speed playback needs, a second of playback takes about two of wall time.
        {"slow link",
         {"play", "v1", "--seconds", "1"},
         [&] {
             eachRendition("v1", [&](std::string path) {
                 emulator_->server().addFault(path, emulator::Fault::throttle(bytesPerSecond / 2));
             });
         },
         0,
         {{"ok", true}, {"ready", true}},
         false,
         0.95},
        // Far too slow to play two seconds within the four allowed.
        {"stalled",
         {"play", "v1", "--seconds", "2", "--timeout", "2"},
         [&] {
             eachRendition("v1", [&](std::string path) {
                 emulator_->server().addFault(path, emulator::Fault::throttle(bytesPerSecond / 8));
             });
         },
         1,
         {{"ok", false}, {"stalled", true}},
         false,
         0},
        {"not media",
         {"play", "v1", "--seconds", "1", "--timeout", "20"},
         [&] {
             emulator_->videos().setRenditions({{"720p", std::string(200000, 'x')},
                                                {"540p", std::string(200000, 'x')},
                                                {"360p", std::string(200000, 'x')}});
         },
         1,
         {{"ok", false}, {"ready", false}},
         true,
         0},
        // The second video's bytes are not media: the first plays to its end, and the second
        // fails once it is the one on screen, not while it preloads.
        {"playlist with a spoilt video",
         {"play", "--playlist", "a", "--seconds", "20"},
         [&] {
             eachRendition("v1", [&](std::string path) {
                 emulator_->server().script().addReply(
                     "GET", path,
                     emulator::Response::text(200, std::string(200000, 'x'), "video/mp4"));
             });
         },
         1,
         {{"ok", false}, {"ends", 1}, {"index", 1}},
         true,
         0},
        // Two videos of three seconds: done after both, long before twenty seconds.
        {"playlist",
         {"play", "--playlist", "a", "--seconds", "20"},
         [] {},
         0,
         {{"ok", true}, {"ends", 2}, {"index", 1}},
         false,
         2.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        emulator_->server().script().clear();
        emulator_->videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
        c.arrange();
        // Another case's bytes of the same addresses must not serve this one.
        pindle::PNPlayerCache::shared()->clearCache();

        std::vector<std::string> all = c.arguments;
        all.insert(all.end(), {"--gateway", gateway_, "--local", "--api-token",
                               BackendEmulator::defaultAPIToken, "--identity", "tester"});
        std::string error;
        auto line = CommandLine::parse(all, error);
        ASSERT_TRUE(line) << error;
        std::ostringstream out;
        JsonLines lines(out);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Commands(*line, lines, &pindleExamplePlay).run(), c.exitCode) << out.str();
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        lines.close();
        bool errorEvent = false;
        json summary;
        for (const json& printed : parseLines(out.str())) {
            if (printed.value("event", "") == "error")
                errorEvent = true;
            summary = printed;
        }
        EXPECT_EQ(errorEvent, c.errorEvent) << out.str();
        expectContains(summary, c.summary);
        ASSERT_TRUE(summary.contains("time")) << summary.dump();
        EXPECT_GE(summary["time"].get<double>(), c.minimumTime) << summary.dump();
        // Failures are told at once, and a playlist ends with its last video.
        EXPECT_LT(took, 15.0) << out.str();
    }
}

// A video whose every rendition the server refuses fails at the first answer: `play` prints
// the error and gives up long before its timeout.
TEST_F(ExampleCommandsTest, PlayReportsAVideoTheServerRefusesAtOnce) {
    for (const char* rendition : {"720p", "540p", "360p"}) {
        emulator_->server().addReply(
            "GET", std::string("/media/v1/") + rendition + ".mp4",
            emulator::Response::text(404, "<html><body>not here</body></html>", "text/html"));
    }
    pindle::PNPlayerCache::shared()->clearCache();
    const auto started = std::chrono::steady_clock::now();
    Run refused = run({"play", "v1", "--seconds", "1", "--timeout", "20"});
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(refused.exitCode, 1);
    const auto error = std::find_if(
        refused.printed.begin(), refused.printed.end(),
        [](const json& line) { return line.contains("event") && line["event"] == "error"; });
    ASSERT_NE(error, refused.printed.end()) << refused.summary.dump();
    EXPECT_EQ((*error)["code"], PNError::videoLoadFailed);
    expectContains(refused.summary, {{"command", "play"}, {"ok", false}, {"ready", false}});
    EXPECT_LT(took, 5.0);
}

TEST(ExampleCommandLineTest, ParsesOptionsAnywhereAndRefusesWhatCannotRun) {
    const std::vector<std::string> session = {"--api-token", "t", "--identity", "i"};
    auto with = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), session.begin(), session.end());
        return arguments;
    };
    struct Case {
        std::vector<std::string> arguments;
        bool accepted;
    };
    const Case cases[] = {
        {{"demo"}, true},
        {{"--help"}, true},
        {{"list"}, false},  // no session options
        {{"list", "--session-token", "s"}, true},
        {{"list", "--api-token", "t"}, false},  // an API token needs an identity
        {with({"get"}), false},
        {with({"get", "a", "b"}), false},
        {with({"by-ids", "a", "b", "c"}), true},
        {with({"list", "--page", "0"}), false},
        {with({"list", "--page", "2x"}), false},
        {with({"list", "--per-page", "-1"}), false},
        {with({"list", "--sort", "up"}), false},
        {with({"list", "--metadata", "novalue"}), false},
        {with({"list", "--metadata", "=v"}), false},
        {with({"list", "--page"}), false},  // value missing at the end
        {with({"download", "v", "--resolution", "1080p"}), false},
        {with({"list", "--timeout", "0"}), false},
        {with({"list", "--gateway", "http://host"}), false},
        {with({"frobnicate"}), false},
        {with({"list", "--frobnicate"}), false},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& argument : c.arguments) joined += argument + " ";
        SCOPED_TRACE(joined);
        std::string error;
        auto line = CommandLine::parse(c.arguments, error);
        EXPECT_EQ(line.has_value(), c.accepted);
        EXPECT_EQ(error.empty(), c.accepted) << error;
    }

    std::string error;
    auto line = CommandLine::parse(
        {"--tags", "a,b", "list", "--tags", "c", "--metadata", "k=v=w", "--page", "3", "--local",
         "--gateway", "h:1", "--api-token", "t", "--identity", "i"},
        error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->command, "list");
    EXPECT_EQ(line->tags, (platform::StringSet{"a", "b", "c"}));
    EXPECT_EQ(line->metadata, (platform::StringDictionary{{"k", "v=w"}}));
    EXPECT_EQ(line->page, 3);
    EXPECT_EQ(line->gateway, "h:1");
    EXPECT_TRUE(line->local);
}

TEST_F(ExampleCommandsTest, ImportSavesTheMovieToTheLibraryAndUploadsTheLibrarysCopy) {
    testing::TemporaryHome home;
    auto& library = platform::PhotoLibrary::shared();
    library.setRoot(home.path() + "/Device/PhotoLibrary");
    library.reset();
    const std::string clip = home.path() + "/clip.mp4";
    ASSERT_TRUE(platform::testing::writeClip(clip, {.seconds = 0.5}).ok());

    Run imported = run({"import", clip});
    EXPECT_EQ(imported.exitCode, 0) << imported.summary.dump();
    expectContains(imported.summary, {{"command", "import"}, {"ok", true}});
    auto movies = library.assets(platform::PhotoAsset::MediaType::video);
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_EQ(std::filesystem::path(movies[0]->path()).extension(), ".mov");
    EXPECT_TRUE(std::filesystem::exists(movies[0]->path()));  // the upload took a copy
    EXPECT_TRUE(std::filesystem::exists(home.path() + "/clip.mov"));
    library.reset();
}

TEST_F(ExampleCommandsTest, UploadAgainstStorageAnswering503TwiceAChunkDeliversTheConvertedFile) {
    testing::TemporaryHome home;
    const std::string clip = home.path() + "/clip.mp4";
    ASSERT_TRUE(
        platform::testing::writeClip(clip, {.width = 640, .height = 480, .seconds = 4}).ok());
    emulator::StorageResource::Faults faults;
    faults.unavailablePerChunk = 2;
    emulator_->storage().setFaults(faults);

    // The conversion before the first range reports no progress, and at load under the
    // sanitizers it can outlast the default wait for some.
    Run uploaded = run({"upload", clip, "--timeout", kInstrumentedPatience});
    ASSERT_EQ(uploaded.exitCode, 0) << uploaded.summary.dump();
    std::string videoID;
    for (const json& line : uploaded.printed)
        if (line.value("command", "") == "upload" && line.contains("videoID"))
            videoID = line["videoID"];
    ASSERT_FALSE(videoID.empty());

    const auto converted = platform::FileManager::defaultManager().contentsOfFile(
        *legacy::PCacheManager::getInstance().pathForVideoCache(videoID, "720p"));
    ASSERT_TRUE(converted);
    std::optional<std::string> sent;
    for (const char* name : {"/source.mp4", "/imported.mp4"})
        if (emulator_->storage().isComplete(videoID + name))
            sent = emulator_->storage().object(videoID + name);
    ASSERT_TRUE(sent);
    EXPECT_TRUE(*sent == std::string(converted->begin(), converted->end()));
    // Every chunk met its two refusals, in the one session, and nothing acknowledged went twice.
    const std::size_t chunks =
        (converted->size() + legacy::PDataRangeUploadingOperation::rangeSize - 1) /
        legacy::PDataRangeUploadingOperation::rangeSize;
    EXPECT_GE(emulator_->storage().refusedRequests(), 2 * chunks);
    EXPECT_EQ(emulator_->storage().sessionsOpened(), 1u);
    EXPECT_EQ(emulator_->storage().resentAcknowledgedBytes(), 0);
}

}  // namespace
}  // namespace pindle::example
