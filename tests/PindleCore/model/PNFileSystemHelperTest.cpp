#include "PindleCore/model/PNFileSystemHelper.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/files/FileManager.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle {
namespace {

using platform::FileManager;
using platform::StandardOutput;
using platform::URL;

constexpr uid_t nobody = 65534;

class Tree {
  public:
    Tree() {
        root_ = pindle::testing::makeScratchFolder("sizes-");
        ::chmod(root_.c_str(), 0755);  // walkable by an unprivileged child too
    }
    ~Tree() {
        for (const auto& folder : lockedFolders_) ::chmod(folder.c_str(), 0755);
        FileManager::defaultManager().removeItem(root_).ignoreError();
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    std::string path(const std::string& relative = {}) const {
        return relative.empty() ? root_ : root_ + "/" + relative;
    }
    URL url(const std::string& relative = {}) const { return URL::fileURLWithPath(path(relative)); }

    void file(const std::string& relative, std::size_t size) {
        std::ofstream(path(relative), std::ios::binary) << std::string(size, 'x');
    }
    void folder(const std::string& relative) {
        ASSERT_TRUE(FileManager::defaultManager().createDirectory(path(relative), true).ok());
        ::chmod(path(relative).c_str(), 0755);
    }
    void lock(const std::string& relative, mode_t mode) {
        lockedFolders_.push_back(path(relative));
        ::chmod(path(relative).c_str(), mode);
    }
    std::int64_t entrySize(const std::string& relative) const {
        struct stat info {};
        ::lstat(path(relative).c_str(), &info);
        return info.st_size;
    }

  private:
    std::string root_;
    std::vector<std::string> lockedFolders_;
};

TEST(PNFileSystemHelperTest, FileSizeIsWhatTheAttributesSay) {
    Tree tree;
    tree.file("one-mebibyte", 1'048'576);
    tree.file("empty", 0);
    tree.folder("folder");
    ASSERT_EQ(::symlink(tree.path("one-mebibyte").c_str(), tree.path("link").c_str()), 0);

    struct Case {
        const char* item;
        std::int64_t size;
    };
    const Case cases[] = {
        {"one-mebibyte", 1'048'576},
        {"empty", 0},
        {"missing", 0},
        {"link", static_cast<std::int64_t>(tree.path("one-mebibyte").size())},
        {"folder", tree.entrySize("folder")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(PNFileSystemHelper::fileSize(tree.url(c.item)), c.size);
    }
}

TEST(PNFileSystemHelperTest, DirectorySizeAddsEveryEntryBelowTheFolder) {
    Tree tree;
    tree.folder("empty");
    EXPECT_EQ(PNFileSystemHelper::directorySize(tree.url("empty")), 0);
    EXPECT_EQ(PNFileSystemHelper::directorySize(tree.url("missing")), 0);

    tree.folder("media");
    tree.file("media/ten", 10);
    tree.file("media/twenty", 20);
    EXPECT_EQ(PNFileSystemHelper::directorySize(tree.url("media")), 30);

    tree.folder("media/sub");
    tree.file("media/sub/five", 5);
    tree.file("media/.hidden", 3);
    const std::int64_t expected = 10 + 20 + 5 + 3 + tree.entrySize("media/sub");
    EXPECT_EQ(PNFileSystemHelper::directorySize(tree.url("media")), expected);
    EXPECT_EQ(PNFileSystemHelper::directorySize(URL::fileURLWithPath(tree.path("media"), true)),
              expected);

    // Links count as themselves: neither the big file nor the folder they point to is added.
    tree.folder("elsewhere");
    tree.file("elsewhere/big", 100'000);
    ASSERT_EQ(::symlink("../elsewhere/big", tree.path("media/to-file").c_str()), 0);
    ASSERT_EQ(::symlink("../elsewhere", tree.path("media/to-folder").c_str()), 0);
    StandardOutput::Capture output;
    EXPECT_EQ(PNFileSystemHelper::directorySize(tree.url("media")),
              expected + static_cast<std::int64_t>(std::string("../elsewhere/big").size() +
                                                   std::string("../elsewhere").size()));
    EXPECT_TRUE(output.lines().empty());
}

// Runs `measure` without the privilege to ignore permission bits, and returns what it
// printed followed by its result. As root that means a forked child that becomes "nobody";
// nothing when that cannot be arranged. A child that fails otherwise fails the test.
std::optional<std::vector<std::string>> runUnprivileged(
    const std::function<std::int64_t()>& measure) {
    auto run = [&] {
        StandardOutput::Capture output;
        const std::int64_t result = measure();
        auto lines = output.lines();
        lines.push_back(std::to_string(result));
        return lines;
    };
    if (::geteuid() != 0)
        return run();

    constexpr int cannotDropPrivileges = 77;
    int channel[2];
    if (::pipe(channel) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return std::vector<std::string>{};
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        ::close(channel[0]);
        ::close(channel[1]);
        return std::vector<std::string>{};
    }
    if (child == 0) {
        ::close(channel[0]);
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(cannotDropPrivileges);
        std::string report;
        for (const auto& line : run()) report += line + "\n";
        const bool written = ::write(channel[1], report.data(), report.size()) ==
                             static_cast<ssize_t>(report.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(channel[1]);
    // The child is a fork of a threaded process and may hang on a lock some other thread
    // held: past the bound it is killed and the test fails.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string report;
    char buffer[4096];
    bool hung = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{channel[0], POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&entry, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            hung = true;
            break;
        }
        const ssize_t count = ::read(channel[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        report.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(channel[0]);
    if (hung)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (hung) {
        ADD_FAILURE() << "the unprivileged child did not finish in time";
        return std::vector<std::string>{};
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == cannotDropPrivileges)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "the unprivileged child failed (wait status " << status << ")";
        return std::vector<std::string>{};
    }

    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = report.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(report.substr(start, end - start));
    return lines;
}

TEST(PNFileSystemHelperTest, UnreadableItemsCountNothingAndAreReported) {
    Tree tree;
    tree.folder("media/closed");
    tree.folder("media/listable");
    tree.file("media/ten", 10);
    tree.file("media/closed/twenty", 20);
    tree.file("media/listable/five", 5);
    tree.file("media/listable/seven", 7);
    const std::int64_t closedEntry = tree.entrySize("media/closed");
    const std::int64_t listableEntry = tree.entrySize("media/listable");
    tree.lock("media/closed", 0);                              // cannot be opened at all
    tree.lock("media/listable", S_IRUSR | S_IRGRP | S_IROTH);  // names readable, items not

    auto outcome = runUnprivileged([&] {
        return PNFileSystemHelper::directorySize(tree.url("media")) +
               PNFileSystemHelper::fileSize(tree.url("media/listable/five"));
    });
    if (!outcome)
        GTEST_SKIP() << "cannot drop privileges to test unreadable folders";

    const std::string dropped = tree.path("media/listable/");
    ASSERT_EQ(outcome->size(), 3u);
    EXPECT_NE((*outcome)[0].find(dropped + "five"), std::string::npos) << (*outcome)[0];
    EXPECT_NE((*outcome)[0].find("Permission denied"), std::string::npos) << (*outcome)[0];
    EXPECT_NE((*outcome)[1].find(dropped + "seven"), std::string::npos) << (*outcome)[1];
    EXPECT_EQ((*outcome)[2], std::to_string(10 + closedEntry + listableEntry));

    tree.lock("media", 0);
    auto unreadableRoot =
        runUnprivileged([&] { return PNFileSystemHelper::directorySize(tree.url("media")); });
    ASSERT_TRUE(unreadableRoot);
    EXPECT_EQ(*unreadableRoot, std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace pindle
