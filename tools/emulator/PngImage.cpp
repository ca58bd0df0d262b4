#include "tools/emulator/PngImage.hpp"

#include <array>
#include <string_view>

namespace pindle::emulator {

namespace {

constexpr std::size_t maxStoredBlock = 65535;

std::uint32_t crc32(std::string_view bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xffffffffu;
    for (char byte : bytes) {
        crc = table[(crc ^ static_cast<std::uint8_t>(byte)) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

std::uint32_t adler32(std::string_view bytes) {
    constexpr std::uint32_t modulus = 65521;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (char byte : bytes) {
        a = (a + static_cast<std::uint8_t>(byte)) % modulus;
        b = (b + a) % modulus;
    }
    return (b << 16) | a;
}

void putBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

void putChunk(std::string& out, std::string_view type, std::string_view data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    std::string typed(type);
    typed += data;
    out += typed;
    putBigEndian(out, crc32(typed));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::string zlibStored(std::string_view raw) {
    std::string out = {'\x78', '\x01'};
    std::size_t at = 0;
    do {
        std::size_t length = std::min(maxStoredBlock, raw.size() - at);
        bool final = at + length == raw.size();
        out.push_back(final ? 1 : 0);
        out.push_back(static_cast<char>(length & 0xff));
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(~length & 0xff));
        out.push_back(static_cast<char>((~length >> 8) & 0xff));
        out.append(raw.substr(at, length));
        at += length;
    } while (at < raw.size());
    putBigEndian(out, adler32(raw));
    return out;
}

}  // namespace

std::string PngImage::gradient(std::uint32_t width, std::uint32_t height, std::uint8_t red,
                               std::uint8_t green, std::uint8_t blue) {
    std::string raw;
    raw.reserve(static_cast<std::size_t>(height) * (1 + 3 * width));
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // filter type None
        auto scale = [&](std::uint8_t channel) {
            return static_cast<char>(channel * (height - y) / height);
        };
        for (std::uint32_t x = 0; x < width; ++x) {
            raw.push_back(scale(red));
            raw.push_back(scale(green));
            raw.push_back(scale(blue));
        }
    }
    std::string header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header += {8, 2, 0, 0, 0};  // 8 bits per channel, RGB, deflate, no filter, no interlace

    std::string png = "\x89PNG\r\n\x1a\n";
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlibStored(raw));
    putChunk(png, "IEND", {});
    return png;
}

}  // namespace pindle::emulator
