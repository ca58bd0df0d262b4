#include "tests/tools/ExampleProgram.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "tests/support/TestFolders.hpp"

extern char** environ;

namespace pindle::example {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const fs::path& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

Spawned::Spawned(const std::string& program, const std::vector<std::string>& arguments,
                 const fs::path& folder, const std::vector<std::string>& extra)
    : out_(folder / "stdout"), err_(folder / "stderr") {
    std::vector<std::string> strings = {program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!entry.starts_with("ASAN_OPTIONS=") && !entry.starts_with("GTEST_") &&
            !entry.starts_with("HOME=") && !entry.starts_with("PINDLE_"))
            environment.push_back(entry);
    }
    // The host ends with the SDK's threads still running: no leaks worth reporting.
    environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    environment.push_back("HOME=" + folder.string());
    environment.insert(environment.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (auto& s : environment) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

Spawned::~Spawned() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool Spawned::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            ended.si_pid != 0)
            return condition();  // it ended: what it left is all there will be
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool Spawned::waitForOutput(const std::function<bool(const std::string&)>& wanted,
                            std::chrono::milliseconds limit) {
    return waitUntil(
        [&] {
            for (const auto& line : out())
                if (wanted(line))
                    return true;
            return false;
        },
        limit);
}

void Spawned::signal(int signal) {
    if (pid_ > 0)
        ::kill(pid_, signal);
}

ProgramRun Spawned::wait(std::chrono::milliseconds limit) {
    ProgramRun run;
    if (pid_ <= 0)
        return run;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            run.out = out();
            run.err = err();
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = out();
    run.err = err();
    return run;
}

std::unique_ptr<emulator::BackendEmulator> emulatorServing(
    const std::vector<std::string>& ids, const platform::testing::ClipOptions& clip) {
    emulator::BackendEmulator::Options options;
    options.seed = false;
    auto emulator = std::make_unique<emulator::BackendEmulator>(options);
    for (const auto& id : ids) {
        emulator::VideoRecord video;
        video.id = id;
        video.title = "Video " + id;
        video.identity = "alice";
        video.state = "processed";
        video.setTags({"a"});
        for (const char* resolution : emulator::VideoRecord::resolutionNames)
            video.addResolution(resolution);
        emulator->store().put(video);
    }
    const std::string movie = platform::testing::clipBytes(clip);
    emulator->videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
    std::string error;
    if (!emulator->start(&error)) {
        ADD_FAILURE() << "the emulator did not start: " << error;
        return nullptr;
    }
    return emulator;
}

ProgramRun runExample(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
    Spawned example(PINDLE_EXAMPLE_PROGRAM, arguments,
                    pindle::testing::makeScratchFolder("example-program"), environment);
    return example.wait();
}

}  // namespace pindle::example
