#include "platform/net/stream/SocketStream.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

namespace pindle::platform {
namespace {

using Event = SocketStream::Event;

// A run loop on a thread of its own, and a stream delegate that records events.
class SocketStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        thread_ = std::thread([loop = loop_] { loop->run(); });
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    void TearDown() override {
        if (stream_)
            stream_->close();
        loop_->stop();
        thread_.join();
        ::close(listener_);
    }

    void open(int port) {
        stream_ = SocketStream::create("127.0.0.1", port);
        stream_->setDelegate([this](Event event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
            changed_.notify_all();
        });
        stream_->schedule(loop_);
        stream_->open();
    }

    bool waitFor(Event event) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(events_.begin(), events_.end(), event) != events_.end();
        });
    }
    void forget() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    int acceptClient() {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 10000) <= 0)
            return -1;
        return ::accept(listener_, nullptr, nullptr);
    }

    std::shared_ptr<RunLoop> loop_ = std::make_shared<RunLoop>();
    std::thread thread_;
    int listener_ = -1;
    int port_ = 0;
    std::shared_ptr<SocketStream> stream_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;  // guarded by mutex_
};

TEST_F(SocketStreamTest, ExchangesBytesAndAnnouncesTheEnd) {
    open(port_);
    int peer = acceptClient();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(waitFor(Event::openCompleted));
    ASSERT_TRUE(waitFor(Event::hasSpaceAvailable));
    EXPECT_EQ(stream_->status(), SocketStream::Status::open);
    const std::string hello = "hello";
    EXPECT_EQ(stream_->write(reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size()), 5);
    char got[5];
    ASSERT_EQ(::recv(peer, got, 5, MSG_WAITALL), 5);
    EXPECT_EQ(std::string(got, 5), hello);

    ::send(peer, "world", 5, 0);
    ASSERT_TRUE(waitFor(Event::hasBytesAvailable));
    std::uint8_t buffer[16];
    std::string received;
    for (;;) {
        long count = stream_->read(buffer, sizeof buffer);
        if (count > 0)
            received.append(reinterpret_cast<char*>(buffer), count);
        if (received.size() >= 5)
            break;
        if (count == SocketStream::wouldBlock) {
            forget();
            ASSERT_TRUE(waitFor(Event::hasBytesAvailable));
        }
    }
    EXPECT_EQ(received, "world");
    EXPECT_EQ(stream_->read(buffer, sizeof buffer), SocketStream::wouldBlock);

    forget();
    ::close(peer);
    ASSERT_TRUE(waitFor(Event::hasBytesAvailable));
    EXPECT_EQ(stream_->read(buffer, sizeof buffer), 0);
    EXPECT_TRUE(waitFor(Event::endEncountered));
    EXPECT_EQ(stream_->status(), SocketStream::Status::atEnd);
}

TEST_F(SocketStreamTest, ARefusedConnectionIsAnError) {
    int unused = port_;
    ::close(listener_);
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);  // for TearDown
    open(unused);
    ASSERT_TRUE(waitFor(Event::errorOccurred));
    EXPECT_EQ(stream_->status(), SocketStream::Status::error);
    ASSERT_TRUE(stream_->error());
    EXPECT_EQ(stream_->error()->code(), URLError::cannotConnectToHost);
}

TEST_F(SocketStreamTest, AnUnknownHostIsAnError) {
    stream_ = SocketStream::create("no-such-host.invalid", 80);
    stream_->setDelegate([this](Event event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    });
    stream_->schedule(loop_);
    stream_->open();
    ASSERT_TRUE(waitFor(Event::errorOccurred));
    ASSERT_TRUE(stream_->error());
    EXPECT_EQ(stream_->error()->code(), URLError::cannotFindHost);
}

}  // namespace
}  // namespace pindle::platform
