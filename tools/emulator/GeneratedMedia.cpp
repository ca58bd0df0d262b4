#include "tools/emulator/GeneratedMedia.hpp"

#include <cstdint>

#include "tools/emulator/PngImage.hpp"
#include "tools/emulator/Tokens.hpp"

namespace pindle::emulator {

namespace {

constexpr std::size_t kibibyte = 1024;
constexpr std::size_t sizeSpread = 32 * kibibyte;
constexpr std::uint32_t thumbnailWidth = 90;
constexpr std::uint32_t thumbnailHeight = 160;

std::size_t baseSize(const std::string& resolution) {
    if (resolution == "720p") {
        return 384 * kibibyte;
    }
    if (resolution == "540p") {
        return 256 * kibibyte;
    }
    return 160 * kibibyte;
}

}  // namespace

std::size_t GeneratedMedia::videoSize(const std::string& videoID, const std::string& resolution) {
    return baseSize(resolution) + Tokens::hash(videoID + "/" + resolution) % sizeSpread;
}

std::string GeneratedMedia::videoBytes(const std::string& videoID, const std::string& resolution) {
    std::string bytes(videoSize(videoID, resolution), '\0');
    // xorshift64: fast, and the same sequence for the same seed everywhere.
    std::uint64_t state = Tokens::hash(videoID + "#" + resolution) | 1;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (std::size_t k = 0; k < 8 && i + k < bytes.size(); ++k) {
            bytes[i + k] = static_cast<char>((state >> (8 * k)) & 0xff);
        }
    }
    return bytes;
}

std::string GeneratedMedia::thumbnail(const std::string& videoID) {
    auto colour = Tokens::hash(videoID);
    return PngImage::gradient(thumbnailWidth, thumbnailHeight, static_cast<std::uint8_t>(colour),
                              static_cast<std::uint8_t>(colour >> 8),
                              static_cast<std::uint8_t>(colour >> 16));
}

}  // namespace pindle::emulator
