// The example host uploads through the emulator in a child process that is killed with SIGKILL
// at chosen points; a fresh child resumes. Whatever the point, the storage ends with the very
// file the SDK sent, no byte the storage acknowledged arrives twice, and no file is left in the
// SDK's folders without a record. Several children that share one home upload together and
// end the same way, each with its own video.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "platform/media/MediaWriter.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/TestFolders.hpp"
#include "tests/tools/ExampleProgram.hpp"
#include "tools/emulator/BackendEmulator.hpp"

extern char** environ;

namespace pindle::emulator::test {
namespace {

namespace fs = std::filesystem;
using Hold = StorageResource::Hold;

// A child converts its clip before it sends anything, and under the sanitizers on a loaded
// machine a conversion alone can take minutes.
constexpr auto childLimit = std::chrono::seconds(240);
constexpr auto gateLimit = std::chrono::seconds(240);
// Converting and sending the large file on a busy machine.
constexpr auto largeFileLimit = std::chrono::seconds(300);
// The descriptor a child announces its stop on.
constexpr int gateDescriptor = 100;

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A child process with its output in a file; killed at the end of the test if still running.
class Child {
  public:
    // Starts `program` with `arguments`; `environment` entries are added to this process's.
    Child(const std::string& program, const std::vector<std::string>& arguments,
          const std::vector<std::string>& environment, const fs::path& output,
          int gateWriteEnd = -1) {
        std::vector<std::string> strings = {program};
        strings.insert(strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& s : strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!entry.starts_with("ASAN_OPTIONS=") && !entry.starts_with("GTEST_") &&
                !entry.starts_with("PINDLE_"))
                envStrings.push_back(entry);
        }
        // A child that is killed, or ends with the SDK's threads still running, has no leaks
        // worth reporting.
        envStrings.push_back("ASAN_OPTIONS=detect_leaks=0");
        envStrings.insert(envStrings.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (auto& s : envStrings) envp.push_back(s.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (gateWriteEnd >= 0)
            posix_spawn_file_actions_adddup2(&actions, gateWriteEnd, gateDescriptor);
        const int failure =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failure != 0)
            pid_ = -1;
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }

    // False once it has ended (it is then reaped).
    bool running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return true;
        pid_ = -1;
        return false;
    }

    // The exit status, or nothing when it ran past `limit` (it is then killed).
    std::optional<int> wait(std::chrono::seconds limit = childLimit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    // Waits until the child has stopped itself (at a gate); false when it ended instead.
    bool waitUntilStopped() {
        int status = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &status, WUNTRACED) != pid_)
            return false;
        if (WIFSTOPPED(status))
            return true;
        pid_ = -1;
        return false;
    }
    void resume() {
        if (pid_ > 0)
            ::kill(pid_, SIGCONT);
    }

    void killHard() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

// Where a run is stopped: a point in the child, or a chunk the storage holds.
struct KillPoint {
    const char* name;
    const char* childGate;  // nullptr: the storage holds a chunk
    int chunk = 0;
    Hold stage = Hold::beforeStoring;
    // Whether the host's call had handed the video over when the process died, so that a
    // resumed run must finish it.
    bool handedOver = true;
};

std::ostream& operator<<(std::ostream& out, const KillPoint& point) {
    return out << point.name;
}

// An emulator of the test's own and a home for the example host's children.
class ExampleHostChildrenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BackendEmulator::Options options;
        options.seed = false;
        emulator_ = std::make_unique<BackendEmulator>(options);
        ASSERT_TRUE(emulator_->start());
        folder_ = pindle::testing::makeScratchFolder("crash-");
        home_ = folder_ / "home";
        fs::create_directories(home_);
        fs::create_directories(folder_ / "incoming");
    }

    std::vector<std::string> commandLine(std::vector<std::string> command) const {
        std::vector<std::string> arguments = {"--gateway",
                                              "127.0.0.1:" + std::to_string(emulator_->port()),
                                              "--local",
                                              "--api-token",
                                              BackendEmulator::defaultAPIToken,
                                              "--identity",
                                              "crash-tester",
                                              "--timeout",
                                              "180"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return arguments;
    }

    // Runs the example host to its end; its exit status (nothing when it ran too long).
    std::optional<int> runToEnd(const std::vector<std::string>& command, const std::string& log) {
        Child child(PINDLE_EXAMPLE_PROGRAM, commandLine(command), {"PINDLE_HOME=" + home_.string()},
                    folder_ / log);
        EXPECT_TRUE(child.started());
        return child.wait();
    }

    // Runs the example host until it reaches `point`, then kills it.
    void runAndKill(const std::vector<std::string>& command, const KillPoint& point) {
        int gate[2] = {-1, -1};
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<std::string> environment = {"PINDLE_HOME=" + home_.string()};
        if (point.childGate) {
            environment.push_back(std::string("PINDLE_STOP_AT=") + point.childGate);
            environment.push_back("PINDLE_STOP_FD=" + std::to_string(gateDescriptor));
        } else {
            emulator_->storage().holdChunk(point.chunk, point.stage);
        }
        Child child(PINDLE_EXAMPLE_PROGRAM, commandLine(command), environment,
                    folder_ / "killed.log", gate[1]);
        ::close(gate[1]);
        ASSERT_TRUE(child.started());
        if (point.childGate) {
            pollfd wait{gate[0], POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(gateLimit.count() * 1000));
            char line[128] = {};
            const ssize_t got = ready > 0 ? ::read(gate[0], line, sizeof line - 1) : 0;
            ASSERT_GT(got, 0) << "the child never reached " << point.childGate << ":\n"
                              << readFile(folder_ / "killed.log");
            const std::string gateName = point.childGate;
            EXPECT_EQ(std::string(line, static_cast<std::size_t>(got)),
                      gateName.substr(0, gateName.find('#')) + "\n");
        } else {
            ASSERT_TRUE(emulator_->storage().waitUntilHeld(gateLimit))
                << "the storage never held chunk " << point.chunk << ":\n"
                << readFile(folder_ / "killed.log");
        }
        child.killHard();
        ::close(gate[0]);
        emulator_->storage().holdChunk(0, point.stage);
    }

    // Every file below the SDK's media folder, relative to it.
    std::vector<std::string> mediaFiles() const {
        std::vector<std::string> files;
        const fs::path media = home_ / "Documents" / "psdk";
        if (!fs::exists(media))
            return files;
        for (const auto& entry : fs::recursive_directory_iterator(media))
            if (entry.is_regular_file())
                files.push_back(fs::relative(entry.path(), media).string());
        return files;
    }

    // Everything in the child's home, for failure messages.
    std::string listing() const {
        std::string text;
        for (const auto& entry : fs::recursive_directory_iterator(home_))
            text += fs::relative(entry.path(), home_).string() + "\n";
        return text;
    }

    std::unique_ptr<BackendEmulator> emulator_;
    fs::path folder_;
    fs::path home_;
};

class UploadCrashTest : public ExampleHostChildrenTest,
                        public ::testing::WithParamInterface<KillPoint> {};

TEST_P(UploadCrashTest, AKilledUploadResumesToTheSameEnd) {
    const KillPoint& point = GetParam();
    // About 3 MiB to send once converted, a dozen chunks.
    const fs::path source = folder_ / "incoming" / "clip.mp4";
    ASSERT_EQ(platform::testing::writeClip(source.string(), {.width = 320,
                                                             .height = 240,
                                                             .fps = 10,
                                                             .seconds = 8,
                                                             .frameNumberPattern = false,
                                                             .noise = true}),
              std::nullopt);
    const std::string original = readFile(source);

    runAndKill({"upload", source.string(), "--tags", "crash", "--title", "Crash"}, point);
    if (point.handedOver) {
        // The unfinished upload is on record, waiting for the next start.
        ASSERT_EQ(runToEnd({"uploads"}, "uploads.log"), 0);
        const std::string records = readFile(folder_ / "uploads.log");
        EXPECT_NE(records.find("\"isUploaded\":false"), std::string::npos) << records;
        EXPECT_NE(records.find("\"count\":1}"), std::string::npos) << records;
    }
    ASSERT_EQ(runToEnd({"resume"}, "resume.log"), 0) << readFile(folder_ / "resume.log");

    if (!point.handedOver) {
        // The host's call never returned: its file is where it was, and nothing else is left.
        EXPECT_EQ(readFile(source), original);
        EXPECT_TRUE(mediaFiles().empty());
        return;
    }
    ASSERT_EQ(emulator_->store().size(), 1u) << readFile(folder_ / "resume.log");
    const auto files = mediaFiles();
    ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files) << "\n"
                                << readFile(folder_ / "killed.log") << "\n"
                                << readFile(folder_ / "resume.log") << "\n"
                                << listing();
    const std::string sent = readFile(home_ / "Documents" / "psdk" / files.front());
    const std::string id = files.front().substr(0, files.front().find('_'));
    EXPECT_EQ(files.front(), id + "_720p.mp4");
    EXPECT_GT(sent.size(), 2u * 1024 * 1024);
    EXPECT_TRUE(emulator_->storage().isComplete(id + "/imported.mp4"));
    EXPECT_TRUE(emulator_->storage().object(id + "/imported.mp4") == sent);
    EXPECT_EQ(emulator_->storage().resentAcknowledgedBytes(), 0);
    auto video = emulator_->store().get(id);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->title, "Crash");
    EXPECT_EQ(video->tags, std::vector<std::string>{"crash"});
    EXPECT_EQ(video->resolutions, std::vector<std::string>{"720p"});
    // The host's file goes once its call has returned; killed before that, it stays whole.
    if (fs::exists(source)) {
        EXPECT_EQ(readFile(source), original);
    }
}

INSTANTIATE_TEST_SUITE_P(
    KillPoints, UploadCrashTest,
    ::testing::Values(
        KillPoint{"beforeTheRecord", "upload.handedOver", 0, Hold::beforeStoring, false},
        KillPoint{"afterTheRecord", "upload.confirmed"},
        KillPoint{"duringConversion", "convert.halfway"},
        KillPoint{"convertedNotMoved", "publish.converted"},
        KillPoint{"movedNotMarked", "publish.moved"},
        KillPoint{"markedSourceKept", "publish.marked"},
        KillPoint{"betweenChunks", nullptr, 3, Hold::beforeStoring},
        KillPoint{"chunkStoredNotAnswered", nullptr, 3, Hold::afterStoring},
        KillPoint{"chunkAnsweredNotRecorded", "upload.chunkAnswered#3"},
        KillPoint{"duringTheFinalChunk", nullptr, StorageResource::finalChunk, Hold::beforeStoring},
        KillPoint{"finalChunkStoredNotAnswered", nullptr, StorageResource::finalChunk,
                  Hold::afterStoring}),
    [](const auto& info) { return std::string(info.param.name); });

// Processes that share one home, each uploading a clip of its own, all let go at once just as
// they have handed their files over (so each one's start-up restart and tidying meets the
// others' hand-overs): every upload ends well, each object on the backend is the very file its
// process sent and kept, no acknowledged byte is sent twice, and every record is still there.
class SharedHomeUploadTest : public ExampleHostChildrenTest,
                             public ::testing::WithParamInterface<int> {};

TEST_P(SharedHomeUploadTest, ProcessesSharingAHomeEachUploadTheirOwnVideoOnce) {
    const int processes = GetParam();
    std::vector<fs::path> sources;
    for (int i = 0; i < processes; ++i) {
        sources.push_back(folder_ / "incoming" / ("clip" + std::to_string(i) + ".mp4"));
        ASSERT_EQ(
            platform::testing::writeClip(sources.back().string(), {.width = 320,
                                                                   .height = 240,
                                                                   .fps = 10,
                                                                   .seconds = 6,
                                                                   .frameNumberPattern = false,
                                                                   .noise = true}),
            std::nullopt);
    }
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < processes; ++i) {
        // Converting and waiting for the others' uploads on a busy machine: a long idle limit.
        auto command = commandLine({"upload", sources[i].string(), "--title",
                                    "Clip " + std::to_string(i), "--timeout", "240"});
        children.push_back(
            std::make_unique<Child>(PINDLE_EXAMPLE_PROGRAM, command,
                                    std::vector<std::string>{"PINDLE_HOME=" + home_.string(),
                                                             "PINDLE_STOP_AT=upload.handedOver"},
                                    folder_ / ("upload" + std::to_string(i) + ".log")));
        ASSERT_TRUE(children.back()->started());
    }
    for (int i = 0; i < processes; ++i)
        ASSERT_TRUE(children[i]->waitUntilStopped())
            << readFile(folder_ / ("upload" + std::to_string(i) + ".log"));
    for (auto& child : children) child->resume();

    std::vector<std::string> ids;
    for (int i = 0; i < processes; ++i) {
        const fs::path log = folder_ / ("upload" + std::to_string(i) + ".log");
        EXPECT_EQ(children[i]->wait(largeFileLimit), 0) << readFile(log);
        const std::string text = readFile(log);
        const auto idAt = text.find("\"videoID\":\"");
        ASSERT_NE(idAt, std::string::npos) << text;
        ids.push_back(text.substr(idAt + 11, 36));
        EXPECT_NE(text.find("\"ok\":true"), std::string::npos) << text;
    }

    EXPECT_EQ(emulator_->store().size(), static_cast<std::size_t>(processes));
    EXPECT_EQ(emulator_->storage().resentAcknowledgedBytes(), 0);
    const std::string records = readFile(home_ / "Library" / "p.sdk" / "uploadingData");
    for (int i = 0; i < processes; ++i) {
        SCOPED_TRACE(ids[i]);
        const std::string sent = readFile(home_ / "Documents" / "psdk" / (ids[i] + "_720p.mp4"));
        EXPECT_GT(sent.size(), 1024u * 1024) << listing();
        EXPECT_TRUE(emulator_->storage().isComplete(ids[i] + "/imported.mp4"));
        EXPECT_TRUE(emulator_->storage().object(ids[i] + "/imported.mp4") == sent);
        auto video = emulator_->store().get(ids[i]);
        ASSERT_TRUE(video);
        EXPECT_EQ(video->title, "Clip " + std::to_string(i));
        EXPECT_EQ(video->resolutions, std::vector<std::string>{"720p"});
        EXPECT_NE(records.find(ids[i]), std::string::npos) << records;
    }
    // Each upload lands whole: every record kept, and marked uploaded.
    std::size_t uploaded = 0;
    for (auto at = records.find("\"isUploaded\":true"); at != std::string::npos;
         at = records.find("\"isUploaded\":true", at + 1))
        ++uploaded;
    EXPECT_EQ(uploaded, static_cast<std::size_t>(processes)) << records;
}

INSTANTIATE_TEST_SUITE_P(Processes, SharedHomeUploadTest, ::testing::Values(2, 3),
                         [](const auto& info) { return std::to_string(info.param) + "Processes"; });

// Ctrl-C while a chunk is on its way: the upload command ends at once with 130, saying it was
// interrupted, and the upload's record stays for `resume`, which finishes it.
TEST_F(UploadCrashTest, AnInterruptedUploadEndsAtOnceAndResumes) {
    // A few chunks' worth once converted: noise the encoder cannot squeeze.
    const fs::path source = folder_ / "incoming" / "clip.mp4";
    ASSERT_EQ(platform::testing::writeClip(source.string(), {.width = 320,
                                                             .height = 240,
                                                             .fps = 10,
                                                             .seconds = 4,
                                                             .frameNumberPattern = false,
                                                             .noise = true}),
              std::nullopt);
    emulator_->storage().holdChunk(2, Hold::beforeStoring);
    fs::create_directories(folder_ / "interrupted");
    example::Spawned host(PINDLE_EXAMPLE_PROGRAM,
                          commandLine({"--json-only", "upload", source.string(), "--title", "Cut"}),
                          folder_ / "interrupted", {"PINDLE_HOME=" + home_.string()});
    ASSERT_TRUE(host.started());
    ASSERT_TRUE(emulator_->storage().waitUntilHeld(gateLimit)) << example::joined(host.err());
    host.signal(SIGINT);
    const example::ProgramRun run = host.wait(std::chrono::seconds(8));
    emulator_->storage().holdChunk(0, Hold::beforeStoring);
    EXPECT_EQ(run.status, 130) << example::joined(run.out) << example::joined(run.err);
    ASSERT_FALSE(run.out.empty());
    const auto summary = nlohmann::json::parse(run.out.back(), nullptr, false);
    EXPECT_EQ(summary.value("interrupted", ""), "SIGINT") << run.out.back();
    EXPECT_EQ(summary.value("ok", true), false) << run.out.back();

    ASSERT_EQ(runToEnd({"resume"}, "resume.log"), 0) << readFile(folder_ / "resume.log");
    ASSERT_EQ(emulator_->store().size(), 1u) << readFile(folder_ / "resume.log");
    const auto files = mediaFiles();
    ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
    const std::string id = files.front().substr(0, files.front().find('_'));
    EXPECT_TRUE(emulator_->storage().isComplete(id + "/imported.mp4"));
    EXPECT_EQ(emulator_->store().get(id)->title, "Cut");
}

// A large file through the standalone emulator: what `download` gives back is what was sent.
TEST(UploadCommandTest, ALargeFileUploadedToTheStandaloneEmulatorDownloadsIdentically) {
    const fs::path folder = pindle::testing::makeScratchFolder("large-");
    const fs::path home = folder / "home";
    fs::create_directories(home);
    // About 20 MB of source: noise the encoder cannot squeeze.
    const fs::path source = folder / "large.mp4";
    {
        platform::MediaWriter::Settings settings;
        platform::MediaWriter::VideoSettings video;
        video.width = 320;
        video.height = 240;
        video.bitRate = 40'000'000;
        settings.video = video;
        auto writer = platform::MediaWriter::create(source.string(), settings);
        ASSERT_TRUE(writer);
        std::minstd_rand noise(7);
        std::vector<std::uint8_t> pixels(320 * 240 * 4);
        for (int frame = 0; frame < 200; ++frame) {
            for (auto& byte : pixels) byte = static_cast<std::uint8_t>(noise());
            ASSERT_EQ(writer->appendVideoFrame(pixels.data(), 320 * 4, frame / 30.0), std::nullopt);
        }
        ASSERT_EQ(writer->finish(), std::nullopt);
    }
    EXPECT_GT(fs::file_size(source), 15u * 1024 * 1024);

    Child emulator(PINDLE_EMULATOR_PROGRAM, {"--port", "0", "--no-seed", "--stand-in-media"}, {},
                   folder / "emulator.log");
    ASSERT_TRUE(emulator.started());
    // Ready once it says where it listens (its start is slow on a loaded machine); one that
    // has ended will never say it.
    std::string port;
    const auto deadline = std::chrono::steady_clock::now() + childLimit;
    while (port.empty() && emulator.running() && std::chrono::steady_clock::now() < deadline) {
        const std::string log = readFile(folder / "emulator.log");
        const auto at = log.find("listening on http://127.0.0.1:");
        const auto end = log.find('\n', at);
        if (at != std::string::npos && end != std::string::npos)
            port = log.substr(at + 30, end - at - 30);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(port.empty()) << readFile(folder / "emulator.log");
    const std::vector<std::string> common = {"--gateway",
                                             "127.0.0.1:" + port,
                                             "--local",
                                             "--api-token",
                                             BackendEmulator::defaultAPIToken,
                                             "--identity",
                                             "large",
                                             "--timeout",
                                             "300"};
    auto run = [&](std::vector<std::string> command, const std::string& log) {
        command.insert(command.begin(), common.begin(), common.end());
        Child child(PINDLE_EXAMPLE_PROGRAM, command, {"PINDLE_HOME=" + home.string()},
                    folder / log);
        return child.wait(largeFileLimit);
    };
    ASSERT_EQ(run({"upload", source.string()}, "upload.log"), 0) << readFile(folder / "upload.log");
    const std::string uploadLog = readFile(folder / "upload.log");
    const auto idAt = uploadLog.find("\"videoID\":\"");
    ASSERT_NE(idAt, std::string::npos) << uploadLog;
    const std::string id = uploadLog.substr(idAt + 11, 36);
    // What the SDK sent: the converted file, read before the next session start tidies the
    // media of finished uploads away.
    const std::string sent = readFile(home / "Documents" / "psdk" / (id + "_720p.mp4"));
    ASSERT_GT(sent.size(), 1024u * 1024);
    const fs::path downloaded = folder / "downloaded.mp4";
    ASSERT_EQ(
        run({"download", id, "--length", "0", "--output", downloaded.string()}, "download.log"), 0)
        << readFile(folder / "download.log");
    EXPECT_TRUE(readFile(downloaded) == sent);
}

}  // namespace
}  // namespace pindle::emulator::test
