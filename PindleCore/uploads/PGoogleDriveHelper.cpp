#include "PindleCore/uploads/PGoogleDriveHelper.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "PindleCore/api/PNAPIConstants.hpp"

namespace pindle::legacy {

std::optional<platform::URLRequest> PGoogleDriveHelper::requestForInitializingResumableDescription(
    const platform::Dictionary& description) {
    auto found = description.find("sessionUrl");
    if (found == description.end() || !found->second.asString())
        return std::nullopt;
    std::optional<platform::URL> url = platform::URL::fromString(*found->second.asString());
    if (!url)
        return std::nullopt;
    platform::URLRequest request(url);
    request.setHTTPMethod("POST");
    request.setValue("start", "x-goog-resumable");
    return request;
}

platform::URLRequest PGoogleDriveHelper::requestForUploadingResumableData(platform::Data data,
                                                                          std::int64_t firstByte,
                                                                          std::int64_t totalSize,
                                                                          const platform::URL& url,
                                                                          bool lastChunk) {
    const std::int64_t length = static_cast<std::int64_t>(data.size());
    platform::URLRequest request =
        requestForUploadingResumableRange(firstByte, length, totalSize, url, lastChunk);
    request.setValue(std::to_string(length), "Content-Length");
    request.setHTTPBody(std::move(data));
    return request;
}

platform::URLRequest PGoogleDriveHelper::requestForUploadingResumableRange(std::int64_t firstByte,
                                                                           std::int64_t length,
                                                                           std::int64_t totalSize,
                                                                           const platform::URL& url,
                                                                           bool lastChunk) {
    platform::URLRequest request(url);
    request.setHTTPMethod("PUT");
    request.setValue("bytes " + std::to_string(firstByte) + "-" +
                         std::to_string(firstByte + length - 1) + "/" +
                         (lastChunk ? std::to_string(totalSize) : std::string("*")),
                     "Content-Range");
    return request;
}

platform::URLRequest PGoogleDriveHelper::requestForUploadStatus(
    const platform::URL& url, std::optional<std::int64_t> totalSize) {
    platform::URLRequest request(url);
    request.setHTTPMethod("PUT");
    request.setValue("bytes */" + (totalSize ? std::to_string(*totalSize) : std::string("*")),
                     "Content-Range");
    request.setValue("0", "Content-Length");
    return request;
}

platform::URLRequest PGoogleDriveHelper::requestForUploadingData(platform::Data data,
                                                                 const platform::URL& url) {
    platform::URLRequest request(url);
    request.setHTTPMethod("PUT");
    request.setHTTPBody(std::move(data));
    return request;
}

std::optional<platform::URL> PGoogleDriveHelper::getGoogleDriveURLByKey(const std::string& key) {
    std::size_t start = 0;
    do {
        const std::size_t slash = std::min(key.find('/', start), key.size());
        const std::string_view piece(key.data() + start, slash - start);
        if (piece.empty() || piece == "." || piece == "..")
            return std::nullopt;
        start = slash + 1;
    } while (start <= key.size());
    std::optional<platform::URL> root = platform::URL::fromString(
        PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::gatewayHost() + storageRootPath);
    if (!root)
        return std::nullopt;
    return root->appendingPathComponent(key);
}

}  // namespace pindle::legacy
