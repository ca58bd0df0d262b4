// PCacheManager: names the media files of a video in the video cache folder (the folder "psdk"
// of Documents, shared with PNLocalVideoCache): "<folder>/<id>.mov" for the recorded or picked
// file and "<folder>/<id>_<resolution>.mp4" per converted resolution. The uploading, publishing
// and range-upload code take every media path from here.
//
// Thread-safety: stateless; safe from any thread. Calls nothing back.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pindle::legacy {

class PCacheManager {
  public:
    static PCacheManager& getInstance();

    PCacheManager(const PCacheManager&) = delete;
    PCacheManager& operator=(const PCacheManager&) = delete;

    // The cache folder, created (with its parents) when missing.
    std::string cacheVideoDirectoryPath() const;
    // The same folder's path, worked out without making or looking at it.
    std::string cacheVideoDirectoryLocation() const;

    // Each path is nothing for an identifier that PNSafePath does not let name files, or a
    // resolution that would make the name unsafe; callers then touch no file.
    std::optional<std::string> pathForMOVVideoCache(const std::string& videoID) const;
    std::optional<std::string> pathForVideoCache(const std::string& videoID,
                                                 const std::string& resolution) const;
    // pathForVideoCache() without making the folder: for readers, to whom a missing folder is
    // a missing file.
    std::optional<std::string> locationForVideoCache(const std::string& videoID,
                                                     const std::string& resolution) const;
    // "<folder>/<id>_%@.mp4": a pattern into which a resolution name can be put later.
    std::optional<std::string> pathPatternForVideoCache(const std::string& videoID) const;
    // For every path below the folder that holds "<id>_", the text after its first such
    // occurrence without the extension, in listing order.
    std::vector<std::string> resolutionsForVideoCache(const std::string& videoID) const;
    std::vector<std::string> pathesForVideoCache(const std::string& videoID) const;

    // Where conversions write until their output is moved into place: the folder "converting"
    // of the cache folder (created when missing), one file per video, "<id>.mp4".
    std::string conversionDirectoryPath() const;
    std::optional<std::string> pathForConversionOutput(const std::string& videoID) const;

  private:
    PCacheManager() = default;
};

}  // namespace pindle::legacy
