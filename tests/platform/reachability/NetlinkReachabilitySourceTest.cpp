#include "platform/net/reachability/NetlinkReachabilitySource.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <arpa/inet.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/NetworkReachability.hpp"
#include "tests/platform/reachability/ManualExecutor.hpp"

namespace pindle::platform {
namespace {

namespace Flag = NetworkReachabilityFlag;

constexpr NetworkReachabilityFlags local = Flag::reachable | Flag::isLocalAddress | Flag::isDirect;

NetworkReachabilityTarget ipv4Target(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return *NetworkReachabilityTarget::address(reinterpret_cast<const sockaddr*>(&address),
                                               sizeof(address));
}

TEST(NetlinkReachabilitySourceTest, ComputesFlagsFromTheCurrentInterfaces) {
    NetlinkReachabilitySource source;
    const auto network = NetlinkReachabilitySource::computeNetworkFlags();
    EXPECT_EQ(network & ~Flag::reachable, 0u) << "only the reachable bit is ever computed";

    struct Case {
        NetworkReachabilityTarget target;
        std::optional<NetworkReachabilityFlags> expected;  // nothing: the network's flags
    };
    const std::vector<Case> cases = {
        {NetworkReachabilityTarget::zeroAddress(), std::nullopt},
        {NetworkReachabilityTarget::hostName("video.example"), std::nullopt},
        {ipv4Target("192.0.2.77"), std::nullopt},
        {NetworkReachabilityTarget::hostName("localhost"), local},
        {ipv4Target("127.0.0.1"), local},
        {ipv4Target("127.8.9.10"), local},
    };
    for (const auto& c : cases) {
        const auto flags = source.flags(c.target);
        ASSERT_TRUE(flags.has_value()) << c.target.description();
        EXPECT_EQ(*flags, c.expected.value_or(network)) << c.target.description();
        EXPECT_EQ(*flags & Flag::isWWAN, 0u);
    }
    EXPECT_FALSE(source.canCreate(NetworkReachabilityTarget::hostName("")));
}

TEST(NetlinkReachabilitySourceTest, ListensWhileWatchedAndStopsCleanlyWhenDestroyed) {
    auto source = std::make_shared<NetlinkReachabilitySource>();
    EXPECT_FALSE(source->isListening()) << "no thread before anyone watches";

    auto queue = std::make_shared<testsupport::ManualExecutor>();
    auto reference = NetworkReachability::createWithAddress(
        reinterpret_cast<const sockaddr*>(
            &NetworkReachabilityTarget::zeroAddress().socketAddress()),
        sizeof(sockaddr_in), source);
    ASSERT_NE(reference, nullptr);
    ASSERT_TRUE(reference->setCallback([](auto&, auto, const auto&) {}));
    ASSERT_TRUE(reference->setDispatchQueue(queue));
    EXPECT_TRUE(source->isListening());
    EXPECT_EQ(reference->flags(), NetlinkReachabilitySource::computeNetworkFlags());

    // The reference keeps the source alive; dropping both must wake and join the listener.
    reference.reset();
    source.reset();
    queue->runAll();
}

// Runs `command` through the shell; true when it succeeded.
bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Drives real kernel events: a thread moves into a network namespace of its own (threads it
// starts, the listener among them, inherit it), where links and addresses can be changed
// without touching the host. Skipped where namespaces or the ip tool are unavailable.
TEST(NetlinkReachabilitySourceTest, ReportsLinkAndAddressChangesFromTheKernel) {
    constexpr auto timeout = std::chrono::seconds(30);
    std::string skipReason;
    std::thread namespaced([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            skipReason = "no permission for a private network namespace";
            return;
        }
        if (!run("ip link add pindle0 type veth peer name pindle1")) {
            skipReason = "cannot create a veth pair";
            return;
        }
        // Declared before the source, so they outlive its listener thread.
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<NetworkReachabilityFlags> reported;  // guarded by mutex

        NetlinkReachabilitySource source;
        const auto zero = NetworkReachabilityTarget::zeroAddress();
        EXPECT_EQ(source.flags(zero), 0u) << "a fresh namespace has only loopback";
        source.watch(zero, [&](NetworkReachabilityFlags flags) {
            {
                std::scoped_lock lock(mutex);
                reported.push_back(flags);
            }
            changed.notify_all();
        });
        const auto waitFor = [&](NetworkReachabilityFlags expected) {
            std::unique_lock lock(mutex);
            return changed.wait_for(
                lock, timeout, [&] { return !reported.empty() && reported.back() == expected; });
        };

        ASSERT_TRUE(
            run("ip link set pindle1 up && ip link set pindle0 up && "
                "ip addr add 10.77.0.1/24 dev pindle0"));
        EXPECT_TRUE(waitFor(Flag::reachable));
        ASSERT_TRUE(run("ip link set pindle0 down"));
        EXPECT_TRUE(waitFor(0));
        std::scoped_lock lock(mutex);
        for (std::size_t i = 1; i < reported.size(); ++i) {
            EXPECT_NE(reported[i], reported[i - 1]) << "a change was reported twice";
        }
    });
    namespaced.join();
    if (!skipReason.empty()) {
        GTEST_SKIP() << skipReason;
    }
}

TEST(NetlinkReachabilitySourceTest, TheDefaultSourceIsTheKernelOneUntilReplaced) {
    auto original = NetworkReachabilitySource::current();
    EXPECT_NE(std::dynamic_pointer_cast<NetlinkReachabilitySource>(original), nullptr);
    auto replacement = std::make_shared<NetlinkReachabilitySource>();
    NetworkReachabilitySource::setCurrent(replacement);
    EXPECT_EQ(NetworkReachabilitySource::current(), replacement);
    NetworkReachabilitySource::setCurrent(nullptr);
    EXPECT_EQ(NetworkReachabilitySource::current(), original);
}

}  // namespace
}  // namespace pindle::platform
