#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pindle::emulator {

// How a "Range" request header applies to a resource of a known length. Only single byte
// ranges are served: "bytes=a-b", "bytes=a-" and the suffix form "bytes=-n". A header that
// is malformed or asks for several ranges is ignored, as HTTP allows, and the whole
// resource is sent.
// Thread-safety: a plain value.
struct ByteRange {
    enum class Kind {
        whole,          // no usable Range header: 200 with everything
        partial,        // 206 with bytes first..last
        unsatisfiable,  // 416
    };

    Kind kind = Kind::whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive

    std::uint64_t length() const { return kind == Kind::partial ? last - first + 1 : 0; }

    static ByteRange resolve(std::optional<std::string_view> header, std::uint64_t total);
};

}  // namespace pindle::emulator
