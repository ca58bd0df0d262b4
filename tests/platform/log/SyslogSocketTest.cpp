#include "platform/log/SyslogSocket.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/log/SystemLog.hpp"
#include "platform/log/SystemLogClient.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

constexpr int receiveTimeoutMilliseconds = 10'000;

// A log daemon's end: a datagram socket bound at a path, read with a bounded wait.
class Receiver {
  public:
    explicit Receiver(const std::string& path) : path_(path) {
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        bound_ = ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Receiver() {
        ::close(socket_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }

    std::optional<std::string> receive() {
        pollfd readable{socket_, POLLIN, 0};
        if (::poll(&readable, 1, receiveTimeoutMilliseconds) != 1) {
            return std::nullopt;
        }
        char buffer[4096];
        ssize_t length = ::recv(socket_, buffer, sizeof buffer, 0);
        return length < 0 ? std::nullopt : std::optional(std::string(buffer, length));
    }

  private:
    const std::string path_;
    int socket_ = -1;
    bool bound_ = false;
};

class SyslogSocketTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = pindle::testing::makeScratchFolder("syslog") + "/log";
        ASSERT_LT(path_.size(), sizeof(sockaddr_un::sun_path)) << path_;
    }
    std::string path_;
};

TEST_F(SyslogSocketTest, SendsOneDatagramPerLineWithPriorityAndIdentity) {
    Receiver daemon(path_);
    ASSERT_TRUE(daemon.bound());
    SyslogSocket socket(path_, "tester");
    const std::string pid = "[" + std::to_string(::getpid()) + "]: ";
    struct Case {
        int level;
        const char* priority;
    };
    // User facility (8) plus the level, clamped to emergency..debug.
    for (const Case& c :
         {Case{3, "<11>"}, Case{0, "<8>"}, Case{7, "<15>"}, Case{99, "<15>"}, Case{-4, "<8>"}}) {
        const std::string text = "line at level " + std::to_string(c.level);
        ASSERT_TRUE(socket.send(c.level, text));
        std::optional<std::string> line = daemon.receive();
        ASSERT_TRUE(line) << c.level;
        EXPECT_TRUE(line->starts_with(c.priority)) << *line;
        EXPECT_TRUE(line->ends_with(" tester" + pid + text)) << *line;
    }
}

TEST_F(SyslogSocketTest, ReachesADaemonThatRestartedOrStartedLate) {
    SyslogSocket socket(path_, "tester");
    // No daemon yet: lines are dropped, quietly.
    EXPECT_FALSE(socket.send(5, "nobody listens"));
    {
        Receiver daemon(path_);
        ASSERT_TRUE(daemon.bound());
        ASSERT_TRUE(socket.send(5, "first daemon"));
        EXPECT_TRUE(daemon.receive().value_or("").ends_with("first daemon"));
    }
    Receiver restarted(path_);
    ASSERT_TRUE(restarted.bound());
    for (const char* text : {"after the restart", "and the next"}) {
        ASSERT_TRUE(socket.send(5, text)) << text;
        EXPECT_TRUE(restarted.receive().value_or("").ends_with(text)) << text;
    }
}

TEST_F(SyslogSocketTest, SystemLogForwardsRecordsWithTheirLevelUnlessTurnedOff) {
    Receiver daemon(path_);
    ASSERT_TRUE(daemon.bound());
    SyslogSocket socket(path_, "tester");
    SystemLog log(10, socket);
    SystemLogClient client(log, std::string("sender"), "facility");
    SystemLogMessage message;
    message.set(SystemLogMessage::keyMessage, "forwarded");
    message.set(SystemLogMessage::keyLevel, "2");
    client.send(message);
    std::optional<std::string> line = daemon.receive();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->starts_with("<10>")) << *line;
    EXPECT_TRUE(line->ends_with("]: forwarded")) << *line;

    log.setForwardsToSyslog(false);
    client.send(message);
    // A line sent straight after proves the record would have arrived first.
    socket.send(5, "barrier");
    EXPECT_TRUE(daemon.receive().value_or("").ends_with("barrier"));
}

}  // namespace
}  // namespace pindle::platform
