#include "platform/media/CameraMode.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace pindle::platform {

namespace {

constexpr double wantedRate = 30;

// Formats a V4L2 camera commonly streams, all of which FFmpeg decodes or swscale converts.
constexpr const char* rawFormats[] = {"YUYV", "UYVY", "NV12", "YU12", "RGB3", "BGR3", "GREY"};
constexpr const char* compressedFormats[] = {"MJPG", "JPEG"};

bool isRaw(const std::string& format) {
    return std::find(std::begin(rawFormats), std::end(rawFormats), format) != std::end(rawFormats);
}

// Lower is better: rates of at least 30 before slower ones, nearest 30 first.
double rateCost(double rate) {
    if (rate <= 0)
        return 1000;
    return rate >= wantedRate ? rate - wantedRate : 100 + (wantedRate - rate);
}

}  // namespace

std::string CameraMode::description() const {
    char text[96];
    std::snprintf(text, sizeof text, "%s %dx%d at %g fps", pixelFormat.c_str(), width, height,
                  framesPerSecond);
    return text;
}

bool CameraMode::isConvertible(const std::string& pixelFormat) {
    return isRaw(pixelFormat) ||
           std::find(std::begin(compressedFormats), std::end(compressedFormats), pixelFormat) !=
               std::end(compressedFormats);
}

std::optional<CameraMode> CameraMode::choose(const std::vector<CameraMode>& offered, int width,
                                             int height, std::string* why) {
    std::vector<CameraMode> usable;
    for (const auto& mode : offered)
        if (mode.width > 0 && mode.height > 0 && isConvertible(mode.pixelFormat))
            usable.push_back(mode);
    if (usable.empty()) {
        if (why)
            *why = offered.empty() ? "the camera offers no picture size"
                                   : "the camera offers no picture format that can be converted";
        return std::nullopt;
    }
    const auto area = [](const CameraMode& mode) {
        return static_cast<long long>(mode.width) * mode.height;
    };
    // Exact size first, then larger in both directions (smallest first), then the rest
    // (largest first).
    const auto sizeRank = [&](const CameraMode& mode) {
        if (mode.width == width && mode.height == height)
            return std::make_tuple(0, 0LL);
        if (mode.width >= width && mode.height >= height)
            return std::make_tuple(1, area(mode));
        return std::make_tuple(2, -area(mode));
    };
    const auto best = std::min_element(
        usable.begin(), usable.end(), [&](const CameraMode& a, const CameraMode& b) {
            return std::make_tuple(sizeRank(a), rateCost(a.framesPerSecond),
                                   !isRaw(a.pixelFormat)) <
                   std::make_tuple(sizeRank(b), rateCost(b.framesPerSecond), !isRaw(b.pixelFormat));
        });
    return *best;
}

}  // namespace pindle::platform
