#include "PindleCore/legacy/PBundle.hpp"

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

platform::ResourceBundlePtr registerCoreBundle() {
    if (auto existing = platform::ResourceBundle::withIdentifier(kPSDKBundleIdentifier))
        return existing;
    std::map<std::string, platform::Data> resources{{"slider@2x.png", sliderThumbPicture()}};
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
