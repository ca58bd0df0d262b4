#include "platform/foundation/StandardOutput.hpp"
#include "tests/support/TestFolders.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pindle::platform {
namespace {

TEST(StandardOutputTest, CaptureRecordsEachLineAsOneWrite) {
    StandardOutput::Capture capture;
    StandardOutput::writeLine("[2019-03-01 10:20:30.456Z][PINLET_RQST] hello");
    StandardOutput::writeLine("");
    StandardOutput::writeLine("two  spaces");
    EXPECT_EQ(capture.writes(),
              (std::vector<std::string>{"[2019-03-01 10:20:30.456Z][PINLET_RQST] hello\n", "\n",
                                        "two  spaces\n"}));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"[2019-03-01 10:20:30.456Z][PINLET_RQST] hello", "",
                                        "two  spaces"}));
}

TEST(StandardOutputTest, CapturesNestAndRestore) {
    StandardOutput::Capture outer;
    StandardOutput::writeLine("outer 1");
    {
        StandardOutput::Capture inner;
        StandardOutput::writeLine("inner");
        EXPECT_EQ(inner.lines(), std::vector<std::string>{"inner"});
    }
    StandardOutput::writeLine("outer 2");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"outer 1", "outer 2"}));
}

// Points file descriptor 1 at a temporary file for the test's lifetime.
class RedirectedStandardOutput {
  public:
    RedirectedStandardOutput() {
        std::string name = pindle::testing::processFolder() + "/stdout-XXXXXX";
        const int fd = ::mkstemp(name.data());
        path_ = name;
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~RedirectedStandardOutput() {
        restore();
        ::unlink(path_.c_str());
    }
    void restore() {
        if (saved_ < 0)
            return;
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::string contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        return buffer.str();
    }

  private:
    std::string path_;
    int saved_ = -1;
};

TEST(StandardOutputTest, ConcurrentLinesNeverInterleave) {
    constexpr int threads = 8;
    constexpr int linesPerThread = 200;
    constexpr std::size_t padding = 3000;  // longer than any stdio buffer, so a split would show
    RedirectedStandardOutput redirected;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            const std::string body(padding, static_cast<char>('a' + t));
            for (int i = 0; i < linesPerThread; ++i) {
                StandardOutput::writeLine(std::to_string(t) + ":" + std::to_string(i) + ":" + body);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    redirected.restore();

    std::istringstream lines(redirected.contents());
    std::map<int, int> nextIndex;
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        ASSERT_NE(second, std::string::npos) << line.substr(0, 40);
        const int t = std::stoi(line.substr(0, first));
        const int i = std::stoi(line.substr(first + 1, second - first - 1));
        ASSERT_EQ(line.substr(second + 1), std::string(padding, static_cast<char>('a' + t)));
        EXPECT_EQ(i, nextIndex[t]++) << "lines of one writer stay in order";
    }
    EXPECT_EQ(count, threads * linesPerThread);
}

}  // namespace
}  // namespace pindle::platform
