// PNVideoCacheSource: where the video cache fetches the records it holds neither in memory nor
// in the local video cache. The API client that fetches them lives above the caches (it stores
// what it receives in this cache), so the cache never includes it: the client installs itself
// as the library loads (PNVideoAPI.cpp). Before that, during static initialisation only, every
// fetch completes at once, on the caller's thread, with PNError sessionNotStarted.
//
// Thread-safety: install() and current() may be called from any thread; current() returns the
// source with no lock held. A source's completions run where its fetches complete (the API
// client's reply thread).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle {

class PNVideoCacheSource {
  public:
    using VideoCompletion = std::function<void(const std::shared_ptr<PNVideo>& video,
                                               const std::optional<platform::Error>& error)>;
    using VideosCompletion = std::function<void(const std::shared_ptr<PNVideosResponse>& response,
                                                const std::optional<platform::Error>& error)>;

    virtual ~PNVideoCacheSource() = default;

    virtual PNCancellablePtr video(const std::string& videoID,
                                   VideoCompletion completion) const = 0;
    virtual PNCancellablePtr videosByIds(const std::vector<std::string>& ids,
                                         VideosCompletion completion) const = 0;

    // The installed source, or one that fetches nothing when none is installed yet.
    static std::shared_ptr<const PNVideoCacheSource> current();
    static void install(std::shared_ptr<const PNVideoCacheSource> source);
};

}  // namespace pindle
