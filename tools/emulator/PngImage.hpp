#pragma once

#include <cstdint>
#include <string>

namespace pindle::emulator {

// A small valid PNG image made without an image library: a vertical gradient from a
// colour to black, stored uncompressed. The emulator serves such images as thumbnails.
// Thread-safety: stateless.
struct PngImage {
    static std::string gradient(std::uint32_t width, std::uint32_t height, std::uint8_t red,
                                std::uint8_t green, std::uint8_t blue);
};

}  // namespace pindle::emulator
