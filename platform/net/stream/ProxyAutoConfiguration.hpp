// ProxyAutoConfiguration: the proxies a proxy auto-configuration (PAC) script names for a
// URL, the platform's "proxies for URL from an auto-configuration script".
//
// The script runs in a separate process (pindle-pac-evaluator, installed beside the
// platform library; PINDLE_PAC_EVALUATOR names another), with a JavaScript engine, the
// standard PAC helper functions (isPlainHostName, dnsDomainIs, localHostOrDomainIs,
// isResolvable, isInNet, dnsResolve, myIpAddress, dnsDomainLevels, shExpMatch,
// weekdayRange, dateRange, timeRange), a memory budget, and a deadline after which the
// process is killed. A script that loops, allocates without end, throws or crashes
// therefore yields nothing, and the caller goes direct. The script and its answer are
// bounded in size. The host's signal dispositions are left alone: a child that exits before
// reading its input raises no SIGPIPE here (see Subprocess).
//
// Thread-safety: stateless; call from any thread. evaluate() blocks its caller for up to
// the time-out: call it off the network thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.hpp"
#include "platform/net/stream/ProxySettings.hpp"

namespace pindle::platform {

class ProxyAutoConfiguration {
  public:
    static constexpr std::size_t maximumScriptSize = 1u << 20;

    // FindProxyForURL(url, host) of `script`, parsed; nothing when the script could not be
    // run, threw, did not answer in `timeoutSeconds`, or answered nothing usable.
    static std::optional<std::vector<ProxySettings::Proxy>> evaluate(const std::string& script,
                                                                     const std::string& url,
                                                                     const std::string& host,
                                                                     double timeoutSeconds);

    // A PAC answer ("PROXY host:port; SOCKS host:port; DIRECT") as proxies, in order;
    // entries of unknown kind are skipped. "PROXY" and "HTTP" give HTTP proxies, "HTTPS" an
    // HTTPS one, "SOCKS" and "SOCKS5" SOCKS 5, "SOCKS4" SOCKS 4, "DIRECT" a Type::none entry.
    static std::vector<ProxySettings::Proxy> parseAnswer(std::string_view answer);

    // Where the evaluator program is.
    static std::string evaluatorPath();
};

}  // namespace pindle::platform
