#include "platform/net/stream/private/DesktopProxySettings.hpp"

#include <unistd.h>

#include "platform/net/stream/private/Subprocess.hpp"

namespace pindle::platform {

namespace {

constexpr const char* proxySchema = "org.gnome.system.proxy";
constexpr std::size_t maximumListingSize = 64u << 10;

// A value as gsettings prints a string, 'text' with \' and \\ escaped, as its text.
std::string unquoted(std::string_view value) {
    if (value.size() < 2 || value.front() != '\'' || value.back() != '\'')
        return std::string(value);
    value = value.substr(1, value.size() - 2);
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        text += value[i];
    }
    return text;
}

}  // namespace

DesktopProxySettings& DesktopProxySettings::shared() {
    // Never destroyed: a connection may ask while the process exits.
    static DesktopProxySettings* settings = [] {
        std::optional<std::string> program;
        for (const char* path : {"/usr/bin/gsettings", "/bin/gsettings"}) {
            if (::access(path, X_OK) == 0) {
                program = path;
                break;
            }
        }
        return new DesktopProxySettings(program);
    }();
    return *settings;
}

DesktopProxySettings::DesktopProxySettings(std::optional<std::string> program, double timeout)
    : program_(std::move(program)), timeout_(timeout) {}

std::optional<std::string> DesktopProxySettings::autoConfigurationURL() {
    std::call_once(read_, [this] {
        if (!program_)
            return;
        auto listing = Subprocess::run(*program_, {"gsettings", "list-recursively", proxySchema},
                                       {}, timeout_, maximumListingSize);
        if (listing)
            url_ = autoConfigurationURLFromListing(*listing);
    });
    return url_;
}

std::optional<std::string> DesktopProxySettings::autoConfigurationURLFromListing(
    std::string_view listing) {
    std::optional<std::string> mode;
    std::optional<std::string> url;
    while (!listing.empty()) {
        auto end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing = end == std::string_view::npos ? std::string_view() : listing.substr(end + 1);
        // "schema key value"; the keys of the HTTP, HTTPS, FTP and SOCKS sub-schemas are not
        // these.
        auto first = line.find(' ');
        if (first == std::string_view::npos || line.substr(0, first) != proxySchema)
            continue;
        auto second = line.find(' ', first + 1);
        if (second == std::string_view::npos)
            continue;
        std::string_view key = line.substr(first + 1, second - first - 1);
        std::string value = unquoted(line.substr(second + 1));
        if (key == "mode")
            mode = value;
        else if (key == "autoconfig-url")
            url = value;
    }
    if (mode != "auto" || !url || url->empty())
        return std::nullopt;
    return url;
}

}  // namespace pindle::platform
