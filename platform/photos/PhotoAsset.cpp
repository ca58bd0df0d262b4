#include "platform/photos/PhotoAsset.hpp"

#include <algorithm>
#include <cctype>

#include "platform/photos/PhotoLibrary.hpp"

namespace pindle::platform {
namespace {

// The value of `name` in a query ("a=1&b=2"), undecoded.
std::optional<std::string> queryValue(const std::string& query, const std::string& name) {
    std::size_t start = 0;
    while (start <= query.size()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string pair = query.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
        start = end + 1;
    }
    return std::nullopt;
}

std::string extensionOf(const std::string& file) {
    const std::size_t dot = file.rfind('.');
    std::string extension = dot == std::string::npos ? "" : file.substr(dot + 1);
    std::string upper;
    for (unsigned char c : extension) {
        if (std::isalnum(c))
            upper += static_cast<char>(std::toupper(c));
    }
    return upper;
}

}  // namespace

URL PhotoAsset::referenceURL() const {
    const std::string extension = extensionOf(record_.file);
    // Identifiers and extensions are letters, digits and dashes (the library checks them),
    // so the text is always a valid URL.
    return *URL::fromString("assets-library://asset/asset." + extension +
                            "?id=" + record_.localIdentifier + "&ext=" + extension);
}

std::vector<PhotoAssetPtr> PhotoAsset::fetchAssets(MediaType type) {
    return PhotoLibrary::shared().assets(type);
}

std::vector<PhotoAssetPtr> PhotoAsset::fetchAssetsWithALAssetURLs(const std::vector<URL>& urls) {
    std::vector<PhotoAssetPtr> found;
    for (const auto& url : urls) {
        if (url.scheme() != "assets-library" || !url.query())
            continue;
        const auto identifier = queryValue(*url.query(), "id");
        if (!identifier)
            continue;
        if (auto asset = PhotoLibrary::shared().assetWithLocalIdentifier(*identifier))
            found.push_back(std::move(asset));
    }
    return found;
}

}  // namespace pindle::platform
