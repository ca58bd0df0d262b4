#include "platform/net/stream/ProxySettings.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/foundation/PercentEncoding.hpp"
#include "platform/net/stream/private/DesktopProxySettings.hpp"

namespace pindle::platform {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<std::string> firstSet(const ProxySettings::Lookup& lookup,
                                    std::initializer_list<const char*> names) {
    for (const char* name : names) {
        auto value = lookup(name);
        if (value && !value->empty())
            return value;
    }
    return std::nullopt;
}

std::optional<ProxySettings::Proxy> parseProxy(const std::string& text) {
    using Type = ProxySettings::Proxy::Type;
    std::string value = text.find("://") == std::string::npos ? "http://" + text : text;
    auto url = URL::fromString(value);
    if (!url || !url->host() || url->host()->empty() || !url->scheme())
        return std::nullopt;
    ProxySettings::Proxy proxy;
    auto scheme = lowercased(*url->scheme());
    if (scheme == "http")
        proxy.type = Type::http;
    else if (scheme == "socks" || scheme == "socks4" || scheme == "socks4a" || scheme == "socks5" ||
             scheme == "socks5h")
        proxy.type = Type::socks;
    else
        return std::nullopt;
    if (scheme == "socks4" || scheme == "socks4a")
        proxy.socksVersion = 4;
    proxy.host = *url->host();
    proxy.port = url->port();
    if (url->user())
        proxy.user = PercentEncoding::decode(*url->user()).value_or(*url->user());
    if (url->password())
        proxy.password = PercentEncoding::decode(*url->password()).value_or(*url->password());
    return proxy;
}

bool isLoopback(const std::string& name) {
    return name == "localhost" || name == "::1" || name == "[::1]" || name.rfind("127.", 0) == 0;
}

bool bypasses(const std::vector<std::string>& noProxy, const std::string& host) {
    std::string name = lowercased(host);
    if (isLoopback(name))
        return true;
    for (auto entry : noProxy) {
        if (entry == "*")
            return true;
        if (auto colon = entry.rfind(':');
            colon != std::string::npos && entry.find(':') == colon)  // not an IPv6 literal
            entry.erase(colon);
        if (!entry.empty() && entry.front() == '.')
            entry.erase(0, 1);
        if (entry.empty())
            continue;
        if (name == entry)
            return true;
        if (name.size() > entry.size() &&
            name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
            name[name.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

ProxySettings ProxySettings::system() {
    auto settings = fromVariables([](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value)
            return std::nullopt;
        return std::string(value);
    });
    if (!settings.pacURL_)
        settings.pacURL_ = DesktopProxySettings::shared().autoConfigurationURL();
    return settings;
}

ProxySettings ProxySettings::fromVariables(const Lookup& lookup) {
    ProxySettings settings;
    settings.httpProxy_ = firstSet(lookup, {"http_proxy"});
    settings.httpsProxy_ = firstSet(lookup, {"https_proxy", "HTTPS_PROXY"});
    settings.allProxy_ = firstSet(lookup, {"all_proxy", "ALL_PROXY"});
    settings.pacURL_ = firstSet(lookup, {"PINDLE_PROXY_PAC_URL"});
    if (auto list = firstSet(lookup, {"no_proxy", "NO_PROXY"})) {
        std::string entry;
        for (char c : *list + ",") {
            if (c == ',' || c == ' ') {
                if (!entry.empty())
                    settings.noProxy_.push_back(lowercased(entry));
                entry.clear();
            } else {
                entry += c;
            }
        }
    }
    return settings;
}

std::vector<ProxySettings::Proxy> ProxySettings::proxiesForURL(const URL& url) const {
    std::vector<Proxy> result;
    if (pacScript_ || pacURL_) {
        Proxy proxy;
        proxy.type =
            pacScript_ ? Proxy::Type::autoConfigurationScript : Proxy::Type::autoConfigurationURL;
        proxy.autoConfiguration = pacScript_ ? *pacScript_ : *pacURL_;
        proxy.autoConfigurationTimeout = pacTimeout_;
        return {proxy};
    }
    const std::string scheme = lowercased(url.scheme().value_or(""));
    const bool secure = scheme == "https" || scheme == "wss";
    if (url.host() && !bypasses(noProxy_, *url.host())) {
        for (const auto* candidate : {secure ? &httpsProxy_ : &httpProxy_, &allProxy_}) {
            if (!*candidate)
                continue;
            if (auto proxy = parseProxy(**candidate)) {
                if (proxy->type == Proxy::Type::http && secure)
                    proxy->type = Proxy::Type::https;
                result.push_back(std::move(*proxy));
                break;
            }
        }
    }
    if (result.empty())
        result.push_back(Proxy{});
    return result;
}

}  // namespace pindle::platform
