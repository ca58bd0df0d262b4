#include "platform/net/stream/ProxyAutoConfiguration.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "platform/net/stream/private/Subprocess.hpp"

namespace pindle::platform {
namespace {

using Type = ProxySettings::Proxy::Type;

TEST(ProxyAutoConfigurationTest, ParsesAnswersInOrderAndSkipsWhatItCannotUse) {
    auto proxies = ProxyAutoConfiguration::parseAnswer(
        " PROXY a.example:3128;SOCKS [::1]:1080; socks4 b:9; QUIC q:1; HTTPS c; DIRECT; PROXY :80;"
        " PROXY d:99999");
    ASSERT_EQ(proxies.size(), 5u);
    EXPECT_EQ(proxies[0].type, Type::http);
    EXPECT_EQ(proxies[0].host, "a.example");
    EXPECT_EQ(proxies[0].port, 3128);
    EXPECT_EQ(proxies[1].type, Type::socks);
    EXPECT_EQ(proxies[1].host, "::1");
    EXPECT_EQ(proxies[1].port, 1080);
    EXPECT_EQ(proxies[2].socksVersion, 4);
    EXPECT_EQ(proxies[3].type, Type::https);
    EXPECT_EQ(proxies[3].port, std::nullopt);
    EXPECT_EQ(proxies[4].type, Type::none);
}

TEST(ProxyAutoConfigurationTest, TheHelperFunctionsAnswerAsScriptsExpect) {
    // Each expression must be true; the script answers the first one that is not.
    const char* checks[] = {
        "isPlainHostName('www') && !isPlainHostName('www.example.test')",
        "dnsDomainIs('www.example.test', '.example.test') && !dnsDomainIs('www.other', '.test')",
        "localHostOrDomainIs('www', 'www.example.test')",
        "localHostOrDomainIs('www.example.test', 'www.example.test')",
        "!localHostOrDomainIs('www.other.test', 'www.example.test')",
        "dnsDomainLevels('www') === 0 && dnsDomainLevels('a.b.c') === 2",
        "shExpMatch('http://x.test/a/b.pac', '*/a/*') && shExpMatch('ab', 'a?')",
        "!shExpMatch('a.b', 'a?c') && shExpMatch('a+b(c)', 'a+b(c)')",
        "shExpMatch('\u00e9t\u00e9', '?t?') && !shExpMatch('\u00e9', '?\?')",
        // Many stars against a long near miss: quick, where a regular expression backtracks.
        "!shExpMatch(new Array(200).join('a'), '*a*a*a*a*a*a*a*a*a*a*a*a*b')",
        "isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0') && !isInNet('11.1.2.3', '10.0.0.0', "
        "'255.0.0.0')",
        "isInNet('localhost', '127.0.0.0', '255.0.0.0')",
        "dnsResolve('localhost') === '127.0.0.1' && isResolvable('localhost')",
        "dnsResolve('no-such-host.invalid') === null",
        "/^\\d+\\.\\d+\\.\\d+\\.\\d+$/.test(myIpAddress())",
        "weekdayRange('SUN', 'SAT') && weekdayRange('SUN', 'SAT', 'GMT') && !weekdayRange('XYZ')",
        "timeRange(0, 24) && timeRange(0, 0, 23, 59) && timeRange(0, 0, 0, 23, 59, 59, 'GMT')",
        "dateRange(1, 31) && dateRange('JAN', 'DEC') && dateRange(1, 'JAN', 1970, 31, 'DEC', 9999)",
        "!dateRange(1970)",
    };
    std::string script = "function FindProxyForURL(url, host) {\n";
    for (std::size_t i = 0; i < std::size(checks); ++i)
        script += "  if (!(" + std::string(checks[i]) +
                  ")) return 'PROXY failed:" + std::to_string(i + 1) + "';\n";
    script += "  return 'PROXY all:1';\n}\n";
    auto proxies = ProxyAutoConfiguration::evaluate(script, "http://h.test", "h.test", 10);
    ASSERT_TRUE(proxies);
    EXPECT_EQ(proxies->front().host + ":" + std::to_string(proxies->front().port.value_or(0)),
              "all:1")
        << "check number " << proxies->front().port.value_or(0) << " failed";
}

TEST(ProxyAutoConfigurationTest, AScriptIsStoppedAtItsDeadline) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ProxyAutoConfiguration::evaluate(
        "function FindProxyForURL(url, host) { for (;;) {} }", "http://h", "h", 0.3));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(ProxyAutoConfiguration::evaluate(std::string(2u << 20, ' '), "http://h", "h", 5));
}

std::atomic<int> sigpipesRaised{0};

void countSigpipe(int) {
    ++sigpipesRaised;
}

TEST(ProxyAutoConfigurationTest, TheHostsSIGPIPEDispositionIsLeftAlone) {
    struct sigaction counting {};
    counting.sa_handler = countSigpipe;
    sigemptyset(&counting.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGPIPE, &counting, &previous), 0);
    sigpipesRaised = 0;

    auto proxies = ProxyAutoConfiguration::evaluate(
        "function FindProxyForURL(url, host) { return 'PROXY p:1'; }", "http://h", "h", 60);
    EXPECT_TRUE(proxies);
    // A child that exits without reading its input: the write to it fails, quietly.
    EXPECT_EQ(Subprocess::run("/bin/true", {"true"}, std::string(4u << 20, 'x'), 60, 100), "");

    struct sigaction now {};
    ::sigaction(SIGPIPE, &previous, &now);
    EXPECT_EQ(now.sa_handler, &countSigpipe);
    EXPECT_EQ(sigpipesRaised.load(), 0);
}

// A host that blocks SIGINT and SIGTERM in its threads (to wait for them with sigwait) does not
// hand its helpers those signals blocked: they would outlive a Ctrl-C.
TEST(ProxyAutoConfigurationTest, HelpersStartWithNoSignalBlocked) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigset_t previous;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    const auto status =
        Subprocess::run("/bin/grep", {"grep", "^SigBlk:", "/proc/self/status"}, "", 60, 1000);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(status, "SigBlk:\t0000000000000000\n");
}

}  // namespace
}  // namespace pindle::platform
