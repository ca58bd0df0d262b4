#include "PindleCore/model/PNVideoResolution.hpp"

#include "platform/foundation/URL.hpp"

namespace pindle {

std::optional<PNVideoResolution> videoResolutionFromRawValue(std::int64_t rawValue) {
    if (rawValue < 0 || rawValue > 2)
        return std::nullopt;
    return static_cast<PNVideoResolution>(rawValue);
}

std::string toString(PNVideoResolution resolution) {
    switch (resolution) {
        case PNVideoResolution::r720p:
            return "720p";
        case PNVideoResolution::r540p:
            return "540p";
        case PNVideoResolution::r360p:
            return "360p";
    }
    return "720p";
}

std::optional<PNVideoResolution> videoResolutionFromString(std::string_view text) {
    if (text == "720p")
        return PNVideoResolution::r720p;
    if (text == "540p")
        return PNVideoResolution::r540p;
    if (text == "360p")
        return PNVideoResolution::r360p;
    return std::nullopt;
}

std::optional<PNVideoResolution> videoResolutionFromURL(const platform::URL& url) {
    static constexpr std::string_view extension = ".mp4";
    std::string component = url.lastPathComponent();
    for (std::size_t at = component.find(extension); at != std::string::npos;
         at = component.find(extension, at)) {
        component.erase(at, extension.size());
    }
    return videoResolutionFromString(component);
}

}  // namespace pindle
