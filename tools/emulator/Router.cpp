#include "tools/emulator/Router.hpp"

namespace pindle::emulator {

void Router::add(std::string method, std::string pattern, Handler handler) {
    std::scoped_lock lock(mutex_);
    routes_.push_back({std::move(method), split(pattern), std::move(handler)});
}

Router::Match Router::match(const std::string& method, const std::string& path) const {
    auto segments = split(path);
    Match result;
    std::scoped_lock lock(mutex_);
    for (const auto& route : routes_) {
        auto params = matchSegments(route, segments);
        if (!params) {
            continue;
        }
        if (route.method == method) {
            result.handler = route.handler;
            result.params = std::move(*params);
            result.allowedMethods.clear();
            return result;
        }
        result.allowedMethods.push_back(route.method);
    }
    return result;
}

std::vector<std::string> Router::split(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > start) {
            segments.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return segments;
}

std::optional<Router::Params> Router::matchSegments(const Route& route,
                                                    const std::vector<std::string>& segments) {
    if (route.segments.size() != segments.size()) {
        return std::nullopt;
    }
    Params params;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& expected = route.segments[i];
        if (expected.size() >= 2 && expected.front() == '{' && expected.back() == '}') {
            params[expected.substr(1, expected.size() - 2)] = percentDecode(segments[i]);
        } else if (expected != segments[i]) {
            return std::nullopt;
        }
    }
    return params;
}

std::string Router::percentDecode(std::string_view text) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = hexValue(text[i + 1]);
            int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

}  // namespace pindle::emulator
