#include "platform/media/private/FileResourceFeeder.hpp"

#include <algorithm>
#include <fstream>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

namespace {

std::string contentTypeFor(const URL& url) {
    std::string extension = url.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "mp4" || extension == "m4v")
        return "public.mpeg-4";
    if (extension == "mov")
        return "com.apple.quicktime-movie";
    return "";
}

std::int64_t fileSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::int64_t>(file.tellg()) : -1;
}

}  // namespace

FileResourceFeeder::FileResourceFeeder(const URL& url)
    : path_(url.path()),
      contentType_(contentTypeFor(url)),
      queue_(DispatchQueue::create("com.pindle.platform.filefeeder")) {}

bool FileResourceFeeder::shouldWaitForLoadingOfRequestedResource(
    AssetResourceLoader&, const AssetResourceLoadingRequestPtr& request) {
    const std::int64_t size = fileSize(path_);
    if (size < 0) {
        request->finishLoading(MediaError::make(MediaError::unknown, "Cannot read " + path_));
        return true;
    }
    if (auto* information = request->contentInformationRequest()) {
        information->setContentType(contentType_);
        information->setContentLength(size);
        information->setByteRangeAccessSupported(true);
    }
    feed(request);
    return true;
}

void FileResourceFeeder::feed(const AssetResourceLoadingRequestPtr& request) {
    if (request->isCancelled() || request->isFinished())
        return;
    auto* data = request->dataRequest();
    if (!data) {
        request->finishLoading();
        return;
    }
    const std::int64_t size = fileSize(path_);
    const std::int64_t end =
        data->requestsAllDataToEndOfResource()
            ? size
            : std::min(size, data->requestedOffset() + data->requestedLength());
    const std::int64_t offset = data->currentOffset();
    if (offset >= end) {
        request->finishLoading();
        return;
    }
    std::ifstream file(path_, std::ios::binary);
    Data bytes(static_cast<std::size_t>(std::min(stepSize, end - offset)));
    file.seekg(offset);
    if (!file.read(reinterpret_cast<char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()))) {
        request->finishLoading(MediaError::make(MediaError::unknown, "Cannot read " + path_));
        return;
    }
    data->respond(bytes);
    queue_->async(weakly(this, [request](FileResourceFeeder& self) { self.feed(request); }));
}

}  // namespace pindle::platform
