// ProxySettings: the system's proxy settings, as a Linux host states them in its
// environment, and the proxies that apply to one URL.
//
// Read: "https_proxy" / "HTTPS_PROXY" for https and wss URLs, "http_proxy" for http and ws
// URLs (only the lower-case name, as curl does, since "HTTP_PROXY" can be set by a request
// header in CGI programs), then "all_proxy" / "ALL_PROXY" for both; "no_proxy" /
// "NO_PROXY" lists hosts that are reached directly ("*" for all; an entry matches the host
// itself and its subdomains, a leading dot is optional, a ":port" is ignored). Loopback
// hosts ("localhost", 127.x.x.x, ::1) are always reached directly. A value
// "host:port" or "http://[user:password@]host[:port]" names an HTTP proxy;
// "socks5://", "socks5h://", "socks4://" or "socks://" a SOCKS proxy. Values with another
// scheme are ignored.
//
// Proxy auto-configuration: a host may name a PAC file by URL or give the script itself
// (setAutoConfigurationURL / setAutoConfigurationScript); otherwise the variable
// "PINDLE_PROXY_PAC_URL" names one, and system() also asks the desktop (gsettings, when
// present and its proxy mode is "auto") for its automatic-proxy URL, once per process and
// within a time limit (see DesktopProxySettings). A PAC decides for
// every host, loopback included: proxiesForURL() then answers a single entry of type
// autoConfigurationURL or autoConfigurationScript, which the caller resolves with
// ProxyAutoConfiguration.
//
// Thread-safety: a value type; system() reads the environment each time it is called, and
// may be called from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.hpp"

namespace pindle::platform {

class ProxySettings {
  public:
    struct Proxy {
        enum class Type { none, http, https, socks, autoConfigurationURL, autoConfigurationScript };
        Type type = Type::none;
        std::string host;
        std::optional<int> port;
        std::optional<std::string> user;
        std::optional<std::string> password;
        // For SOCKS: 5, or 4 for the "socks4" and "socks4a" schemes.
        int socksVersion = 5;
        // For the auto-configuration types: the PAC file's URL, or the script.
        std::string autoConfiguration;
        // For the auto-configuration types: how long the script may run, in seconds.
        double autoConfigurationTimeout = 0;
    };

    static constexpr double defaultAutoConfigurationTimeout = 5.0;

    using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

    static ProxySettings system();
    // Settings from any variable source: for tests, and hosts that keep them elsewhere.
    static ProxySettings fromVariables(const Lookup& lookup);

    // The proxies to try for `url`, in order; a single Type::none entry means "direct".
    std::vector<Proxy> proxiesForURL(const URL& url) const;

    // A PAC set here wins over the environment and the desktop; the script over the URL.
    void setAutoConfigurationURL(std::optional<std::string> url) { pacURL_ = std::move(url); }
    void setAutoConfigurationScript(std::optional<std::string> script) {
        pacScript_ = std::move(script);
    }
    // How long one evaluation of the script may take before it counts as failed.
    void setAutoConfigurationTimeout(double seconds) { pacTimeout_ = seconds; }
    const std::optional<std::string>& autoConfigurationURL() const { return pacURL_; }

  private:
    std::optional<std::string> pacURL_;
    std::optional<std::string> pacScript_;
    double pacTimeout_ = defaultAutoConfigurationTimeout;
    std::optional<std::string> httpProxy_;
    std::optional<std::string> httpsProxy_;
    std::optional<std::string> allProxy_;
    std::vector<std::string> noProxy_;
};

}  // namespace pindle::platform
