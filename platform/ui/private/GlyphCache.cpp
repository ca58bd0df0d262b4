#include "platform/ui/private/GlyphCache.hpp"

namespace pindle::platform::ui {

namespace {
// What a cached glyph costs beyond its pixels: the entry, its list node and map slot.
constexpr std::size_t kEntryOverhead = 96;
}  // namespace

std::size_t GlyphCache::KeyHash::operator()(const Key& key) const {
    std::uint64_t h = key.face;
    h = h * 0x9E3779B97F4A7C15ull + key.glyph;
    h = h * 0x9E3779B97F4A7C15ull + static_cast<std::uint32_t>(key.sizeX);
    h = h * 0x9E3779B97F4A7C15ull + static_cast<std::uint32_t>(key.sizeY);
    return static_cast<std::size_t>(h ^ (h >> 29));
}

std::size_t GlyphCache::costOf(const GlyphBitmap& glyph) {
    return glyph.coverage.size() + kEntryOverhead;
}

std::shared_ptr<const GlyphBitmap> GlyphCache::find(const Key& key) {
    auto it = entries_.find(key);
    if (it == entries_.end())
        return nullptr;
    recency_.splice(recency_.begin(), recency_, it->second);
    return it->second->glyph;
}

void GlyphCache::insert(const Key& key, std::shared_ptr<const GlyphBitmap> glyph) {
    if (auto it = entries_.find(key); it != entries_.end())
        erase(it->second);
    if (!glyph)
        return;
    const std::size_t cost = costOf(*glyph);
    if (cost > byteLimit_)
        return;
    while (!recency_.empty() && bytes_ + cost > byteLimit_) erase(std::prev(recency_.end()));
    recency_.push_front(Entry{key, std::move(glyph)});
    entries_[key] = recency_.begin();
    bytes_ += cost;
}

void GlyphCache::erase(std::list<Entry>::iterator entry) {
    bytes_ -= costOf(*entry->glyph);
    entries_.erase(entry->key);
    recency_.erase(entry);
}

}  // namespace pindle::platform::ui
