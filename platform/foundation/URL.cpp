#include "platform/foundation/URL.hpp"

#include <algorithm>
#include <array>

#include <unistd.h>

#include <cassert>
#include <cctype>
#include <climits>
#include <cstdint>
#include <memory>

#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/PercentEncoding.hpp"

namespace pindle::platform {

namespace {

constexpr int maximumPort = 65535;
// Component offsets are 32-bit.
constexpr std::size_t maximumTextLength = UINT32_MAX - 1;

// ASCII only, whatever the process locale: URL text has no other letters or digits.
constexpr bool isAsciiAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

constexpr bool isUnreserved(char c) {
    return isAsciiAlphanumeric(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

constexpr bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// What each byte of URL text is: allowed anywhere (brackets and '#' are checked by place), and
// whether it is a bracket or a percent sign, so that one pass over the text tells which of the
// later checks can be skipped. Every character of every URL read passes through here.
enum CharacterTraits : std::uint8_t { urlCharacter = 1, bracket = 2, percentSign = 4 };
constexpr auto characterTraits = [] {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 128; ++i) {
        const char c = static_cast<char>(i);
        if (isUnreserved(c) || isSubDelimiter(c) ||
            std::string_view(":/?#[]@%").find(c) != std::string_view::npos) {
            table[i] = urlCharacter;
        }
    }
    table['['] |= bracket;
    table[']'] |= bracket;
    table['%'] |= percentSign;
    return table;
}();

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool hasWellFormedEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) {
            return false;
        }
        i += 2;
    }
    return true;
}

bool isValidScheme(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front())))
        return false;
    for (char c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

// An IP literal between brackets: an IPv6 address (hex digits, ':' and '.' for an embedded
// IPv4 part) or a future "v<hex>.<text>" form.
bool isValidIPLiteral(std::string_view inside) {
    if (inside.empty())
        return false;
    if (inside.front() == 'v' || inside.front() == 'V') {
        const std::size_t dot = inside.find('.');
        if (dot == std::string_view::npos || dot == 1 || dot + 1 == inside.size())
            return false;
        for (char c : inside.substr(1, dot - 1)) {
            if (!isHexDigit(c))
                return false;
        }
        for (char c : inside.substr(dot + 1)) {
            if (!isUnreserved(c) && !isSubDelimiter(c) && c != ':')
                return false;
        }
        return true;
    }
    if (inside.find(':') == std::string_view::npos)
        return false;
    for (char c : inside) {
        if (!isHexDigit(c) && c != ':' && c != '.')
            return false;
    }
    return true;
}

std::string stripTrailingSlash(std::string path) {
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

bool URL::locate(std::string_view text) {
    if (text.empty() || text.size() > maximumTextLength)
        return false;
    std::uint8_t seen = urlCharacter;
    for (char c : text) {
        const std::uint8_t traits = characterTraits[static_cast<unsigned char>(c)];
        if (!(traits & urlCharacter))
            return false;
        seen |= traits;
    }
    if ((seen & percentSign) && !hasWellFormedEscapes(text))
        return false;
    // Most URLs have no brackets at all; then no part needs looking at for misplaced ones.
    const bool mayHaveBrackets = (seen & bracket) != 0;
    const auto hasBrackets = [mayHaveBrackets](std::string_view part) {
        return mayHaveBrackets && part.find_first_of("[]") != std::string_view::npos;
    };

    const auto offset = [&text](std::string_view part) {
        return static_cast<std::uint32_t>(part.data() - text.data());
    };
    std::string_view rest = text;

    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        if (fragment.find('#') != std::string_view::npos || hasBrackets(fragment)) {
            return false;
        }
        flags_ |= hasFragment;
        rest = rest.substr(0, hash);
    }
    if (const std::size_t question = rest.find('?'); question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        if (hasBrackets(query))
            return false;
        flags_ |= hasQuery;
        queryEnd_ = offset(query) + static_cast<std::uint32_t>(query.size());
        rest = rest.substr(0, question);
    }

    const std::size_t colon = rest.find(':');
    const std::size_t firstSlash = rest.find('/');
    if (colon != std::string_view::npos && colon < firstSlash) {
        if (!isValidScheme(rest.substr(0, colon)))
            return false;
        flags_ |= hasScheme;
        schemeEnd_ = static_cast<std::uint32_t>(colon);
        rest = rest.substr(colon + 1);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t pathStart = std::min(rest.find('/'), rest.size());
        std::string_view authority = rest.substr(0, pathStart);
        rest = rest.substr(pathStart);
        flags_ |= hasAuthority;
        authorityBegin_ = offset(authority);

        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view userInfo = authority.substr(0, at);
            if (hasBrackets(userInfo) || userInfo.find('@') != std::string_view::npos) {
                return false;
            }
            const std::size_t separator = userInfo.find(':');
            flags_ |= hasUser;
            userEnd_ =
                offset(userInfo) + static_cast<std::uint32_t>(std::min(separator, userInfo.size()));
            if (separator != std::string_view::npos)
                flags_ |= hasPassword;
            authority = authority.substr(at + 1);
        }

        std::string_view host;
        std::string_view portText;
        bool hasPortSeparator = false;
        if (authority.starts_with("[")) {
            const std::size_t close = authority.find(']');
            if (close == std::string_view::npos ||
                !isValidIPLiteral(authority.substr(1, close - 1))) {
                return false;
            }
            host = authority.substr(0, close + 1);
            std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':')
                    return false;
                hasPortSeparator = true;
                portText = after.substr(1);
            }
        } else {
            const std::size_t separator = authority.rfind(':');
            host = authority.substr(0, separator);
            if (hasBrackets(host) || host.find(':') != std::string_view::npos)
                return false;
            if (separator != std::string_view::npos) {
                hasPortSeparator = true;
                portText = authority.substr(separator + 1);
            }
        }
        hostBegin_ = offset(host);
        hostEnd_ = hostBegin_ + static_cast<std::uint32_t>(host.size());
        if (hasPortSeparator && !portText.empty()) {
            if (portText.size() > 5)
                return false;
            int port = 0;
            for (char c : portText) {
                if (c < '0' || c > '9')
                    return false;
                port = port * 10 + (c - '0');
            }
            if (port > maximumPort)
                return false;
            port_ = port;
        }
    }

    if (hasBrackets(rest))
        return false;
    pathBegin_ = offset(rest);
    pathEnd_ = pathBegin_ + static_cast<std::uint32_t>(rest.size());
    return true;
}

std::optional<URL> URL::fromString(std::string_view text) {
    URL url;
    if (!url.locate(text))
        return std::nullopt;
    url.text_ = std::string(text);
    return url;
}

bool URL::isValid(std::string_view text) {
    URL url;
    return url.locate(text);
}

std::optional<std::string> URL::sliceIf(bool present, std::uint32_t begin,
                                        std::uint32_t end) const {
    if (!present)
        return std::nullopt;
    return std::string(slice(begin, end));
}

std::optional<std::string> URL::scheme() const {
    return sliceIf(has(hasScheme), 0, schemeEnd_);
}

std::optional<std::string> URL::host() const {
    return sliceIf(has(hasAuthority), hostBegin_, hostEnd_);
}

std::optional<int> URL::port() const {
    if (port_ == noPort)
        return std::nullopt;
    return port_;
}

std::optional<std::string> URL::user() const {
    return sliceIf(has(hasUser), authorityBegin_, userEnd_);
}

std::optional<std::string> URL::password() const {
    // The user information ends in the '@' just before the host.
    return sliceIf(has(hasPassword), userEnd_ + 1, hostBegin_ - 1);
}

std::optional<std::string> URL::query() const {
    return sliceIf(has(hasQuery), pathEnd_ + 1, queryEnd_);
}

std::optional<std::string> URL::fragment() const {
    const std::uint32_t begin = (has(hasQuery) ? queryEnd_ : pathEnd_) + 1;
    return sliceIf(has(hasFragment), begin, static_cast<std::uint32_t>(text_.size()));
}

URL URL::rebuilt(const std::string& text) {
    std::optional<URL> url = fromString(text);
    assert(url && "URL text built from a valid URL must stay valid");
    return url ? std::move(*url) : URL();
}

URL URL::fileURLWithPath(std::string_view path, bool isDirectory) {
    std::string absolute;
    if (!path.starts_with("/")) {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        absolute = cwd ? cwd.get() : "";
        if (absolute.empty() || absolute.back() != '/')
            absolute += '/';
    }
    absolute.append(path);
    if (isDirectory && absolute.back() != '/')
        absolute += '/';
    return rebuilt("file://" + PercentEncoding::encode(absolute, CharacterSet::urlPathAllowed()));
}

std::string URL::path() const {
    std::optional<std::string> decoded = PercentEncoding::decode(encodedPathView());
    return stripTrailingSlash(decoded ? std::move(*decoded) : encodedPath());
}

std::string URL::lastPathComponent() const {
    const std::string full = path();
    if (full.empty() || full == "/")
        return full;
    const std::size_t slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

std::string URL::pathExtension() const {
    const std::string component = lastPathComponent();
    const std::size_t dot = component.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == component.size())
        return "";
    return component.substr(dot + 1);
}

URL URL::withEncodedPath(std::string_view newPath) const {
    // Everything before the path is the scheme and authority, everything after it the query
    // and fragment, each with its separators.
    std::string text;
    text.reserve(text_.size() - (pathEnd_ - pathBegin_) + newPath.size());
    text.append(text_, 0, pathBegin_);
    text.append(newPath);
    text.append(text_, pathEnd_);
    return rebuilt(text);
}

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    std::string encoded = PercentEncoding::encode(component, CharacterSet::urlPathAllowed());
    std::string newPath = encodedPath();
    if (newPath.empty() && has(hasAuthority))
        newPath = "/";
    if (!newPath.empty() && newPath.back() == '/') {
        while (encoded.starts_with("/")) encoded.erase(0, 1);
    } else if (!newPath.empty() && !encoded.starts_with("/")) {
        newPath += '/';
    }
    newPath += encoded;
    if (isDirectory && (newPath.empty() || newPath.back() != '/'))
        newPath += '/';
    return withEncodedPath(newPath);
}

URL URL::deletingLastPathComponent() const {
    std::string newPath = stripTrailingSlash(encodedPath());
    if (newPath == "/")
        return withEncodedPath(newPath);
    const std::size_t slash = newPath.rfind('/');
    newPath = slash == std::string::npos ? "" : newPath.substr(0, slash + 1);
    return withEncodedPath(newPath);
}

URL URL::appendingPathExtension(std::string_view extension) const {
    std::string newPath = encodedPath();
    const bool directory = newPath.size() > 1 && newPath.back() == '/';
    if (directory)
        newPath.pop_back();
    newPath += "." + PercentEncoding::encode(extension, CharacterSet::urlPathAllowed());
    if (directory)
        newPath += '/';
    return withEncodedPath(newPath);
}

URL URL::deletingPathExtension() const {
    std::string newPath = encodedPath();
    const bool directory = newPath.size() > 1 && newPath.back() == '/';
    if (directory)
        newPath.pop_back();
    const std::size_t slash = newPath.rfind('/');
    const std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = newPath.rfind('.');
    if (dot != std::string::npos && dot > componentStart && dot + 1 < newPath.size()) {
        newPath.erase(dot);
    }
    if (directory)
        newPath += '/';
    return withEncodedPath(newPath);
}

bool URL::isFileURL() const {
    if (!has(hasScheme) || schemeEnd_ != 4)
        return false;
    const std::string_view scheme = slice(0, schemeEnd_);
    return std::equal(scheme.begin(), scheme.end(), "file", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

}  // namespace pindle::platform
