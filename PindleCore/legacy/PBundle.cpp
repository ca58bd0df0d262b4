#include "PindleCore/legacy/PBundle.hpp"

#include <mutex>

#include "embedded/mb_PSDK.hpp"

namespace pindle::legacy {

platform::ResourceBundlePtr frameworkBundle() {
    static std::once_flag once;
    static platform::ResourceBundlePtr bundle;
    std::call_once(once, [] {
        // Registered when the library loaded; a host may have registered its own since.
        embedded::mb_PSDK();
        bundle = platform::ResourceBundle::withIdentifier(kPSDKBundleIdentifier);
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
