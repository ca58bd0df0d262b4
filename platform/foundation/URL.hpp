// URL: an absolute or relative URL reference, kept exactly as it was written.
//
// fromString() checks the text against the generic URL syntax and refuses text a URL
// cannot hold: empty text, blanks, control characters, non-ASCII bytes, characters such
// as " < > \ ^ ` { | }, square brackets anywhere but around an IPv6 host, a second '#',
// a malformed percent-escape, a bad scheme or a port that is not a number up to 65535.
// Well-formed percent-escapes are kept as written. Any scheme works ("pinlet://host/x").
//
// Accessors return the components as written (percent-escapes intact) except path() and
// lastPathComponent(), which decode escapes the way the platform's URL does. Equality and
// hashing go by absoluteString(). A URL keeps only its text and where each component lies
// in it (records hold several URLs, and lists hold thousands of records), so the component
// accessors build their strings when asked.
//
// Thread-safety: a plain immutable value type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::platform {

class URL {
  public:
    // The URL of `text`, or nothing when `text` is not a valid URL reference.
    static std::optional<URL> fromString(std::string_view text);
    // Whether fromString(text) would give a URL; checks without keeping a copy of the text.
    static bool isValid(std::string_view text);

    // A "file://" URL of a local path. A relative path is taken relative to the current
    // working directory. Characters outside the path-allowed set are percent-escaped.
    // With `isDirectory` the URL ends in '/'.
    // REQUIRES: path is not empty.
    static URL fileURLWithPath(std::string_view path, bool isDirectory = false);

    // The text the URL was made from, unchanged.
    const std::string& absoluteString() const { return text_; }

    // The scheme as written ("https", "pinlet", "file"); nothing for a relative reference.
    std::optional<std::string> scheme() const;
    // The host as written (an IPv6 literal keeps its brackets); nothing when the URL has
    // no authority part. A URL like "file:///tmp" has an empty host.
    std::optional<std::string> host() const;
    std::optional<int> port() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // The path as written, percent-escapes intact ("" when the URL has no path).
    std::string encodedPath() const { return std::string(encodedPathView()); }
    // The text after '?' (up to '#'), as written; nothing when there is no '?'.
    std::optional<std::string> query() const;
    // The text after '#', as written; nothing when there is no '#'.
    std::optional<std::string> fragment() const;

    // The path with percent-escapes decoded and a trailing '/' removed (except for the
    // root path "/"). Escapes that decode to invalid UTF-8 are left as written.
    std::string path() const;

    // The last component of path(): "/a/b/" gives "b", "/" gives "/", "" gives "".
    std::string lastPathComponent() const;
    // The text after the last '.' of lastPathComponent(), or "" when there is none (a
    // leading dot, as in ".profile", does not start an extension).
    std::string pathExtension() const;

    // This URL with `component` appended to its path (a '/' is put in between when the
    // path does not end in one); characters outside the path-allowed set are escaped.
    // Query and fragment stay. `isDirectory` appends a trailing '/'.
    URL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
    // This URL with the last path component removed, ending in '/': "http://h/a/b" and
    // "http://h/a/b/" give "http://h/a/"; the root path stays "/". Query and fragment stay.
    URL deletingLastPathComponent() const;
    // This URL with ".<extension>" appended to the last path component.
    URL appendingPathExtension(std::string_view extension) const;
    // This URL without the extension of its last path component.
    URL deletingPathExtension() const;

    // True when the scheme is "file" (in any case).
    bool isFileURL() const;

    bool operator==(const URL& other) const { return text_ == other.text_; }
    bool operator<(const URL& other) const { return text_ < other.text_; }

  private:
    URL() = default;
    // Checks `text` and sets where each component lies in it; false when it is no URL.
    bool locate(std::string_view text);
    // A URL rebuilt from `text`. REQUIRES: text is a valid URL.
    static URL rebuilt(const std::string& text);
    // This URL with its path replaced by `newPath` (already escaped).
    URL withEncodedPath(std::string_view newPath) const;

    std::string_view encodedPathView() const { return slice(pathBegin_, pathEnd_); }
    std::string_view authorityView() const { return slice(authorityBegin_, pathBegin_); }
    std::string_view slice(std::uint32_t begin, std::uint32_t end) const {
        return std::string_view(text_).substr(begin, end - begin);
    }
    std::optional<std::string> sliceIf(bool present, std::uint32_t begin, std::uint32_t end) const;

    enum Flag : std::uint8_t {
        hasScheme = 1,
        hasAuthority = 2,
        hasUser = 4,
        hasPassword = 8,
        hasQuery = 16,
        hasFragment = 32,
    };
    bool has(Flag flag) const { return (flags_ & flag) != 0; }

    std::string text_;
    // Offsets into text_. The scheme is [0, schemeEnd_); the authority [authorityBegin_,
    // pathBegin_) holds the user [authorityBegin_, userEnd_), the password [userEnd_ + 1,
    // hostBegin_ - 1) and the host [hostBegin_, hostEnd_); the query is [pathEnd_ + 1,
    // queryEnd_) and the fragment runs from the '#' after the path or query to the end.
    std::uint32_t schemeEnd_ = 0;
    std::uint32_t authorityBegin_ = 0;
    std::uint32_t userEnd_ = 0;
    std::uint32_t hostBegin_ = 0;
    std::uint32_t hostEnd_ = 0;
    std::uint32_t pathBegin_ = 0;
    std::uint32_t pathEnd_ = 0;
    std::uint32_t queryEnd_ = 0;
    std::int32_t port_ = noPort;
    std::uint8_t flags_ = 0;
    static constexpr std::int32_t noPort = -1;
};

}  // namespace pindle::platform

template <>
struct std::hash<pindle::platform::URL> {
    std::size_t operator()(const pindle::platform::URL& url) const noexcept {
        return std::hash<std::string>{}(url.absoluteString());
    }
};
