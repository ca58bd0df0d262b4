#include "platform/foundation/URL.hpp"

#include <array>

#include <unistd.h>

#include <cassert>
#include <cctype>
#include <climits>
#include <memory>

#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/PercentEncoding.hpp"

namespace pindle::platform {

namespace {

constexpr int maximumPort = 65535;

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

// Characters that may appear anywhere in URL text (brackets and '#' are checked by place),
// looked up in a table: every character of every URL read passes through here.
constexpr auto urlCharacters = [] {
    std::array<bool, 256> table{};
    for (int i = 0; i < 128; ++i) {
        const char c = static_cast<char>(i);
        table[i] = isUnreserved(c) || isSubDelimiter(c) ||
                   std::string_view(":/?#[]@%").find(c) != std::string_view::npos;
    }
    return table;
}();

bool isURLCharacter(char c) {
    return urlCharacters[static_cast<unsigned char>(c)];
}

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

bool hasBrackets(std::string_view text) {
    return text.find_first_of("[]") != std::string_view::npos;
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

std::optional<URL> URL::fromString(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    for (char c : text) {
        if (!isURLCharacter(c))
            return std::nullopt;
    }
    if (!hasWellFormedEscapes(text))
        return std::nullopt;

    URL url;
    url.text_ = std::string(text);
    std::string_view rest = text;

    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        if (fragment.find('#') != std::string_view::npos || hasBrackets(fragment)) {
            return std::nullopt;
        }
        url.fragment_ = std::string(fragment);
        rest = rest.substr(0, hash);
    }
    if (const std::size_t question = rest.find('?'); question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        if (hasBrackets(query))
            return std::nullopt;
        url.query_ = std::string(query);
        rest = rest.substr(0, question);
    }

    const std::size_t colon = rest.find(':');
    const std::size_t firstSlash = rest.find('/');
    if (colon != std::string_view::npos && colon < firstSlash) {
        std::string_view scheme = rest.substr(0, colon);
        if (!isValidScheme(scheme))
            return std::nullopt;
        url.scheme_ = std::string(scheme);
        rest = rest.substr(colon + 1);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t pathStart = std::min(rest.find('/'), rest.size());
        std::string_view authority = rest.substr(0, pathStart);
        rest = rest.substr(pathStart);
        url.authority_ = std::string(authority);

        if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view userInfo = authority.substr(0, at);
            if (hasBrackets(userInfo) || userInfo.find('@') != std::string_view::npos) {
                return std::nullopt;
            }
            const std::size_t separator = userInfo.find(':');
            url.user_ = std::string(userInfo.substr(0, separator));
            if (separator != std::string_view::npos) {
                url.password_ = std::string(userInfo.substr(separator + 1));
            }
            authority = authority.substr(at + 1);
        }

        std::string_view portText;
        bool hasPortSeparator = false;
        if (authority.starts_with("[")) {
            const std::size_t close = authority.find(']');
            if (close == std::string_view::npos ||
                !isValidIPLiteral(authority.substr(1, close - 1))) {
                return std::nullopt;
            }
            url.host_ = std::string(authority.substr(0, close + 1));
            std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':')
                    return std::nullopt;
                hasPortSeparator = true;
                portText = after.substr(1);
            }
        } else {
            const std::size_t separator = authority.rfind(':');
            std::string_view host = authority.substr(0, separator);
            if (hasBrackets(host) || host.find(':') != std::string_view::npos)
                return std::nullopt;
            url.host_ = std::string(host);
            if (separator != std::string_view::npos) {
                hasPortSeparator = true;
                portText = authority.substr(separator + 1);
            }
        }
        if (hasPortSeparator && !portText.empty()) {
            if (portText.size() > 5)
                return std::nullopt;
            int port = 0;
            for (char c : portText) {
                if (c < '0' || c > '9')
                    return std::nullopt;
                port = port * 10 + (c - '0');
            }
            if (port > maximumPort)
                return std::nullopt;
            url.port_ = port;
        }
    }

    if (hasBrackets(rest))
        return std::nullopt;
    url.path_ = std::string(rest);
    return url;
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
    std::optional<std::string> decoded = PercentEncoding::decode(path_);
    return stripTrailingSlash(decoded ? *decoded : path_);
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

URL URL::withEncodedPath(const std::string& newPath) const {
    std::string text;
    if (scheme_)
        text += *scheme_ + ":";
    if (authority_)
        text += "//" + *authority_;
    text += newPath;
    if (query_)
        text += "?" + *query_;
    if (fragment_)
        text += "#" + *fragment_;
    return rebuilt(text);
}

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    std::string encoded = PercentEncoding::encode(component, CharacterSet::urlPathAllowed());
    std::string newPath = path_;
    if (newPath.empty() && authority_)
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
    std::string newPath = stripTrailingSlash(path_);
    if (newPath == "/")
        return withEncodedPath(newPath);
    const std::size_t slash = newPath.rfind('/');
    newPath = slash == std::string::npos ? "" : newPath.substr(0, slash + 1);
    return withEncodedPath(newPath);
}

URL URL::appendingPathExtension(std::string_view extension) const {
    std::string newPath = path_;
    const bool directory = newPath.size() > 1 && newPath.back() == '/';
    if (directory)
        newPath.pop_back();
    newPath += "." + PercentEncoding::encode(extension, CharacterSet::urlPathAllowed());
    if (directory)
        newPath += '/';
    return withEncodedPath(newPath);
}

URL URL::deletingPathExtension() const {
    std::string newPath = path_;
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
    if (!scheme_ || scheme_->size() != 4)
        return false;
    std::string lower;
    for (char c : *scheme_) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "file";
}

}  // namespace pindle::platform
