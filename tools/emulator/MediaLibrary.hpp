#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/emulator/MediaFile.hpp"
#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"

namespace pindle::emulator {

// The media the emulator serves over GET and HEAD with single-range support. A path is
// looked up, in this order, among bytes registered in memory, among the folders mapped
// under a path prefix, and among providers that make media on demand (the video store
// serves the renditions of its videos this way).
// Thread-safety: safe from any thread. Providers are called on the server's I/O threads,
// never under the library's lock.
class MediaLibrary {
  public:
    using Provider = std::function<std::optional<MediaFile>(const std::string& path)>;

    MediaLibrary() = default;
    MediaLibrary(const MediaLibrary&) = delete;
    MediaLibrary& operator=(const MediaLibrary&) = delete;

    // REQUIRES: path starts with "/".
    void add(std::string path, std::string bytes, std::string contentType = "video/mp4");
    void remove(const std::string& path);
    // Serves the files below folder under urlPrefix: "/files/" and "a/b.mp4" give
    // "/files/a/b.mp4". Paths that climb out of the folder are not served.
    // REQUIRES: urlPrefix starts and ends with "/".
    void addFolder(std::string urlPrefix, std::filesystem::path folder);
    void addProvider(Provider provider);

    // The media under this (still percent-encoded) request path.
    std::optional<MediaFile> find(const std::string& path) const;

    // The reply to a GET or HEAD of a media file, honouring a "Range" header.
    static Response reply(const Request& request, const MediaFile& media);

    static std::string contentTypeFor(const std::filesystem::path& file);

  private:
    mutable std::mutex mutex_;
    std::map<std::string, MediaFile> files_;                // guarded by mutex_
    std::map<std::string, std::filesystem::path> folders_;  // guarded by mutex_
    std::vector<Provider> providers_;                       // guarded by mutex_
};

}  // namespace pindle::emulator
