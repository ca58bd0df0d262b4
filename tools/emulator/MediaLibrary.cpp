#include "tools/emulator/MediaLibrary.hpp"

#include "tools/emulator/ByteRange.hpp"
#include "tools/emulator/Router.hpp"

namespace pindle::emulator {

namespace {

bool climbsOut(const std::filesystem::path& relative) {
    if (relative.is_absolute()) {
        return true;
    }
    for (const auto& part : relative) {
        if (part == "..") {
            return true;
        }
    }
    return false;
}

}  // namespace

void MediaLibrary::add(std::string path, std::string bytes, std::string contentType) {
    MediaFile media = MediaFile::ofBytes(std::move(bytes), std::move(contentType));
    std::scoped_lock lock(mutex_);
    files_[std::move(path)] = std::move(media);
}

void MediaLibrary::remove(const std::string& path) {
    std::scoped_lock lock(mutex_);
    files_.erase(path);
}

void MediaLibrary::addFolder(std::string urlPrefix, std::filesystem::path folder) {
    std::scoped_lock lock(mutex_);
    folders_[std::move(urlPrefix)] = std::move(folder);
}

void MediaLibrary::addProvider(Provider provider) {
    std::scoped_lock lock(mutex_);
    providers_.push_back(std::move(provider));
}

std::optional<MediaFile> MediaLibrary::find(const std::string& rawPath) const {
    auto path = Router::percentDecode(rawPath);
    std::vector<Provider> providers;
    std::optional<std::filesystem::path> fileOnDisk;
    {
        std::scoped_lock lock(mutex_);
        if (auto it = files_.find(path); it != files_.end()) {
            return it->second;
        }
        for (const auto& [prefix, folder] : folders_) {
            if (path.compare(0, prefix.size(), prefix) == 0) {
                std::filesystem::path relative = path.substr(prefix.size());
                if (!climbsOut(relative)) {
                    fileOnDisk = folder / relative;
                }
                break;
            }
        }
        providers = providers_;
    }
    if (fileOnDisk) {
        if (auto source = BodySource::ofFile(*fileOnDisk))
            return MediaFile{std::move(source), contentTypeFor(*fileOnDisk)};
    }
    for (const auto& provider : providers) {
        if (auto media = provider(path)) {
            return media;
        }
    }
    return std::nullopt;
}

Response MediaLibrary::reply(const Request& request, const MediaFile& media) {
    if (request.method != "GET" && request.method != "HEAD") {
        return Response::error(405, "media accepts GET and HEAD only")
            .withHeader("Allow", "GET, HEAD");
    }
    const std::uint64_t total = media.source->size();
    auto rangeHeader = request.header("Range");
    auto range = ByteRange::resolve(
        rangeHeader ? std::optional<std::string_view>(*rangeHeader) : std::nullopt, total);

    Response response;
    response.headers.add("Accept-Ranges", "bytes");
    switch (range.kind) {
        case ByteRange::Kind::whole:
            response.status = 200;
            response.headers.add("Content-Type", media.contentType);
            response.bodySource = media.source;
            response.bodyLength = total;
            break;
        case ByteRange::Kind::partial:
            response.status = 206;
            response.headers.add("Content-Type", media.contentType);
            response.headers.add("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                      std::to_string(range.last) + "/" +
                                                      std::to_string(total));
            response.bodySource = media.source;
            response.bodyOffset = range.first;
            response.bodyLength = range.length();
            break;
        case ByteRange::Kind::unsatisfiable:
            response.status = 416;
            response.headers.add("Content-Range", "bytes */" + std::to_string(total));
            break;
    }
    return response;
}

std::string MediaLibrary::contentTypeFor(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> types = {
        {".mp4", "video/mp4"},         {".m4v", "video/mp4"},  {".mov", "video/quicktime"},
        {".png", "image/png"},         {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},
        {".json", "application/json"}, {".txt", "text/plain"},
    };
    auto it = types.find(file.extension().string());
    return it == types.end() ? "application/octet-stream" : it->second;
}

}  // namespace pindle::emulator
