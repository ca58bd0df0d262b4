#pragma once

#include <string>

#include "tools/emulator/Headers.hpp"

namespace pindle::emulator {

// One HTTP request as the emulator received it: what route handlers read and what the
// request log records. The target is kept byte for byte as it arrived (path and raw,
// still percent-encoded query), so tests can check the exact query form a client built.
// Thread-safety: a plain value.
struct Request {
    std::string method;
    std::string target;
    Headers headers;
    std::string body;

    // The target up to the first "?", not decoded.
    std::string path() const;
    // The target after the first "?", not decoded; empty when there is none.
    std::string rawQuery() const;
    // True when the target carries a "?", even a bare one.
    bool hasQuery() const;

    std::optional<std::string> header(std::string_view name) const { return headers.get(name); }
};

}  // namespace pindle::emulator
