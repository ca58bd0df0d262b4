#include "PindleCore/caches/private/PNVideoCacheSource.hpp"

#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle {

namespace {

class NoBackend final : public PNVideoCacheSource {
  public:
    PNCancellablePtr video(const std::string&, VideoCompletion completion) const override {
        completion(nullptr, PNError(PNError::sessionNotStarted).toPlatformError());
        return nullptr;
    }
    PNCancellablePtr videosByIds(const std::vector<std::string>&,
                                 VideosCompletion completion) const override {
        completion(nullptr, PNError(PNError::sessionNotStarted).toPlatformError());
        return nullptr;
    }
};

// A lookup may still miss while other statics are torn down at exit.
PNInstalled<PNVideoCacheSource>& installedCacheSource() {
    static auto* slot = new PNInstalled<PNVideoCacheSource>(std::make_shared<NoBackend>());
    return *slot;
}

}  // namespace

std::shared_ptr<const PNVideoCacheSource> PNVideoCacheSource::current() {
    return installedCacheSource().get();
}

void PNVideoCacheSource::install(std::shared_ptr<const PNVideoCacheSource> source) {
    installedCacheSource().install(std::move(source));
}

}  // namespace pindle
