// TextEngine: the process's text stack. It finds faces with fontconfig (DejaVu Sans when
// fontconfig finds nothing that opens), shapes text with HarfBuzz, breaks it into lines,
// truncates it as its style asks, and draws the lines with FreeType glyphs kept in a bounded
// GlyphCache.
//
// Layout is in points and does not depend on the scale a text is drawn at: advances come
// from the font's own units, unhinted, so a label measures the same on every canvas. Glyphs
// are rendered at the canvas's pixel size and placed on whole pixels.
//
// The libraries are opened, and fontconfig started, on the first layout of the process
// (TextLibrary). When they or every font are missing, layout() gives null, nothing is drawn,
// and one line says so on standard error, once per process.
//
// Thread-safety: all operations are safe from any thread; faces, the shaping buffer and the
// glyph cache are guarded by one lock, never held while drawing onto a canvas. No callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Rect.hpp"
#include "platform/foundation/Size.hpp"
#include "platform/media/GraphicsContext.hpp"
#include "platform/ui/TextStyle.hpp"
#include "platform/ui/private/TextLibrary.hpp"

namespace pindle::platform::ui {

class GlyphCache;
struct GlyphBitmap;

// A text set in lines, in points.
struct TextLayout {
    struct Glyph {
        std::uint32_t id = 0;
        double x = 0;  // from the line's left end
        double y = 0;  // up from the baseline
    };
    struct Line {
        std::vector<Glyph> glyphs;
        double width = 0;  // without trailing blanks
        bool rightToLeft = false;
    };

    std::uint32_t face = 0;
    double pointSize = 0;
    double ascent = 0;   // above the baseline
    double descent = 0;  // below the baseline, positive
    double lineHeight = 0;
    std::vector<Line> lines;
    // Whether text was left out (lines beyond the limit, or an ellipsis put in).
    bool truncated = false;

    // The widest line by the lines' height.
    Size size() const;
};

class TextEngine {
  public:
    // Text beyond this many bytes is neither laid out nor drawn.
    static constexpr std::size_t maxTextBytes = 64 * 1024;
    // Glyphs are not drawn bigger than this many pixels (em square).
    static constexpr double maxPixelSize = 512;

    // The process's engine (made on first use, never destroyed).
    static TextEngine& shared();

    TextEngine(const TextEngine&) = delete;
    TextEngine& operator=(const TextEngine&) = delete;

    // `text` set in `style`, lines no wider than `maxWidth` points (infinity: one line per
    // paragraph); null when no font can be had.
    std::shared_ptr<const TextLayout> layout(std::string_view text, const TextStyle& style,
                                             double maxWidth);

    // Draws `layout` into `rect` (points, in the context's current coordinates), each line
    // aligned by `alignment`, the lines centred vertically or from the top.
    void draw(const TextLayout& layout, GraphicsContext& context, const Rect& rect,
              TextAlignment alignment, Color colour, bool centreVertically);

    // Whether a font can be had (loading the libraries and fontconfig if needed).
    bool hasFont();

    // Glyphs in the cache now, for tests and benchmarks.
    std::size_t cachedGlyphCount() const;

    // Replaces the files tried when fontconfig finds nothing usable (DejaVu Sans by default),
    // so a test can see a machine without fonts. REQUIRES: no text laid out in this process.
    static void setFallbackFontFilesForTesting(std::vector<std::string> files);

    // One grapheme cluster as shaped (defined with the engine).
    struct Cluster;

  private:
    struct Face;
    TextEngine();
    ~TextEngine() = default;

    // All Locked functions REQUIRE mutex_.
    // False, with `why`, when the libraries cannot be used.
    bool startLocked(std::string* why);
    Face* faceForLocked(const Font& font);
    Face* openFaceLocked(const std::string& file, int index);
    std::vector<Cluster> shapeLocked(Face& face, std::string_view text, bool* rightToLeft);
    std::shared_ptr<const GlyphBitmap> glyphLocked(Face& face, std::uint32_t glyph,
                                                   std::int32_t sizeX, std::int32_t sizeY);
    void reportMissing(const std::string& why);

    mutable std::mutex mutex_;
    // All guarded by mutex_.
    bool started_ = false;
    const TextLibrary* library_ = nullptr;
    FT_Library freetype_ = nullptr;
    FcConfig* fontconfig_ = nullptr;
    hb_buffer_t* buffer_ = nullptr;
    std::vector<std::unique_ptr<Face>> faces_;
    std::vector<std::pair<std::pair<std::string, int>, Face*>> matches_;
    std::unique_ptr<GlyphCache> glyphs_;
    bool reported_ = false;
};

}  // namespace pindle::platform::ui
