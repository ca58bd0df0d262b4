// GlyphCache: rendered glyphs kept for reuse, keyed by face, pixel size and glyph id, and
// bounded by the bytes their coverage takes: once a new glyph would pass the limit, the
// glyphs used longest ago are dropped until it fits. A glyph bigger than the whole limit is
// not kept.
//
// Thread-safety: none; the text engine uses it under its own lock. Entries are shared and
// immutable, so a caller may keep drawing a glyph after it was dropped. No callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace pindle::platform::ui {

// An 8-bit coverage mask of one glyph; its top-left pixel is `left` pixels right of the pen
// and `top` pixels above the baseline.
struct GlyphBitmap {
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    std::vector<std::uint8_t> coverage;  // width * height, row by row
};

class GlyphCache {
  public:
    struct Key {
        std::uint32_t face = 0;
        std::uint32_t glyph = 0;
        // Pixel sizes in 1/64 pixel.
        std::int32_t sizeX = 0;
        std::int32_t sizeY = 0;

        bool operator==(const Key&) const = default;
    };

    static constexpr std::size_t defaultByteLimit = 4 * 1024 * 1024;

    explicit GlyphCache(std::size_t byteLimit = defaultByteLimit) : byteLimit_(byteLimit) {}
    GlyphCache(const GlyphCache&) = delete;
    GlyphCache& operator=(const GlyphCache&) = delete;

    // The glyph under `key`, made the most recently used; null when not cached.
    std::shared_ptr<const GlyphBitmap> find(const Key& key);
    // Keeps `glyph` under `key` (replacing what was there), dropping the least recently
    // used glyphs to stay within the limit.
    void insert(const Key& key, std::shared_ptr<const GlyphBitmap> glyph);

    std::size_t count() const { return entries_.size(); }
    std::size_t byteCount() const { return bytes_; }
    std::size_t byteLimit() const { return byteLimit_; }

  private:
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    struct Entry {
        Key key;
        std::shared_ptr<const GlyphBitmap> glyph;
    };
    static std::size_t costOf(const GlyphBitmap& glyph);
    void erase(std::list<Entry>::iterator entry);

    const std::size_t byteLimit_;
    std::size_t bytes_ = 0;
    std::list<Entry> recency_;  // most recently used first
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> entries_;
};

}  // namespace pindle::platform::ui
