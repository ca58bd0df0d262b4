#include "PindleCore/legacy/PBundle.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/media/GraphicsContext.hpp"

namespace pindle::legacy {
namespace {

// The slider's thumb: a white disc with a soft grey rim, 120 pixels across (a 60-point
// thumb at scale 2).
platform::Data sliderThumbPicture() {
    constexpr int side = 120;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(side) * side * 4, 0);
    const double centre = (side - 1) / 2.0, radius = side / 2.0 - 2;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double distance = std::hypot(x - centre, y - centre);
            if (distance > radius)
                continue;
            const std::uint8_t shade = distance > radius - 4 ? 200 : 255;
            auto* pixel = rgba.data() + (static_cast<std::size_t>(y) * side + x) * 4;
            pixel[0] = pixel[1] = pixel[2] = shade;
            pixel[3] = 255;
        }
    }
    auto image = platform::Image::make(side, side, std::move(rgba), 2.0);
    auto png = image ? image->pngData() : std::nullopt;
    return png.value_or(platform::Data{});
}

// The recorder's microphone: a white capsule in a cradle on a stand, on transparency, 127 by
// 237 pixels (63.5 by 118.5 points at scale 2).
platform::Data microphonePicture() {
    constexpr int width = 127, height = 237;
    constexpr double centreX = 63.5, headTop = 32, headBottom = 118, headRadius = 32;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double along = std::clamp(py, headTop, headBottom);
            const bool head = std::hypot(px - centreX, py - along) <= headRadius;
            const double ring = std::hypot(px - centreX, py - headBottom);
            const bool cradle = py >= headBottom && ring >= 54 && ring <= 62;
            const bool stem = std::abs(px - centreX) <= 6 && py >= 178 && py < 222;
            const bool base = std::abs(px - centreX) <= 40 && py >= 222;
            if (!(head || cradle || stem || base))
                continue;
            auto* pixel = rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            pixel[0] = pixel[1] = pixel[2] = pixel[3] = 255;
        }
    }
    auto image = platform::Image::make(width, height, std::move(rgba), 2.0);
    auto png = image ? image->pngData() : std::nullopt;
    return png.value_or(platform::Data{});
}

platform::ResourceBundlePtr registerCoreBundle() {
    if (auto existing = platform::ResourceBundle::withIdentifier(kPSDKBundleIdentifier))
        return existing;
    std::map<std::string, platform::Data> resources{{"slider@2x.png", sliderThumbPicture()},
                                                    {"recorder_btn_mic.png", microphonePicture()}};
    platform::ResourceBundle::Strings strings{
        {"Localizable",
         {{"P_ERROR_WrongNotLibrary", "The photo library is not available on this device."}}}};
    return platform::ResourceBundle::registerBundle(kPSDKBundleIdentifier, std::move(resources),
                                                    std::move(strings));
}

}  // namespace

platform::ResourceBundlePtr frameworkBundle() {
    static std::once_flag once;
    static platform::ResourceBundlePtr bundle;
    std::call_once(once, [] {
        bundle = registerCoreBundle();
        if (!bundle)
            bundle = platform::ResourceBundle::withIdentifier(kPinletBundleIdentifier);
    });
    return bundle;
}

platform::ImagePtr bundleImageNamed(const std::string& name) {
    auto bundle = frameworkBundle();
    if (!bundle)
        return nullptr;
    for (const char* type : {"", "png"}) {
        if (auto data = bundle->data(name, type)) {
            if (auto image = platform::Image::fromData(*data))
                return image;
        }
    }
    return nullptr;
}

std::string bundleLocalizedString(const std::string& key) {
    auto bundle = frameworkBundle();
    return bundle ? bundle->localizedString(key, "", "") : std::string();
}

}  // namespace pindle::legacy
