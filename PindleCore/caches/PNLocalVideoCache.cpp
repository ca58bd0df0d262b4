#include "PindleCore/caches/PNLocalVideoCache.hpp"

namespace pindle {

PNLocalVideoCache& PNLocalVideoCache::shared() {
    static PNLocalVideoCache* cache = new PNLocalVideoCache;
    return *cache;
}

void PNLocalVideoCache::resetCache() {
    ++resets_;
}

std::shared_ptr<PNVideo> PNLocalVideoCache::video(const std::string&) const {
    return nullptr;
}

}  // namespace pindle
