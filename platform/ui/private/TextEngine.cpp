#include "platform/ui/private/TextEngine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "platform/log/StandardError.hpp"
#include "platform/ui/private/GlyphCache.hpp"

namespace pindle::platform::ui {

namespace {

constexpr const char* systemFamily = "sans-serif";
constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026
constexpr const char* plainEllipsis = "...";
// Bounds on what one process keeps: distinct (family, weight) requests and open faces. The
// families come from code, but a request beyond the bound gets the first face found.
constexpr std::size_t maxMatches = 64;
constexpr std::size_t maxFaces = 16;
// Lines of one layout; the rest counts as left out.
constexpr std::size_t kMaxLines = 4096;
// Points a line may pass its width by through rounding.
constexpr double widthTolerance = 1e-6;
// A rendered glyph bigger than this is not drawn (a broken or hostile font file).
constexpr std::size_t maxGlyphBytes = 4 * 1024 * 1024;

struct FallbackFiles {
    std::mutex mutex;
    // Tried in order when fontconfig finds nothing that opens; bold requests try the bold
    // face first. Guarded by mutex.
    std::vector<std::string> regular = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
    std::vector<std::string> bold = {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                                     "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
};
FallbackFiles& fallbackFiles() {
    static FallbackFiles* shared = new FallbackFiles();
    return *shared;
}

int fontconfigWeight(Font::Weight weight) {
    switch (weight) {
        case Font::Weight::light:
            return FC_WEIGHT_LIGHT;
        case Font::Weight::regular:
            return FC_WEIGHT_REGULAR;
        case Font::Weight::medium:
            return FC_WEIGHT_MEDIUM;
        case Font::Weight::semibold:
            return FC_WEIGHT_DEMIBOLD;
        case Font::Weight::bold:
            return FC_WEIGHT_BOLD;
    }
    return FC_WEIGHT_REGULAR;
}

// The longest prefix of `text` no longer than `limit` bytes that does not split a UTF-8
// sequence.
std::string_view boundedText(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

// The glyphs of one grapheme cluster, in the font's units, in logical order.
struct TextEngine::Cluster {
    struct Glyph {
        std::uint32_t id = 0;
        std::int32_t advance = 0;
        std::int32_t xOffset = 0;
        std::int32_t yOffset = 0;
    };
    std::vector<Glyph> glyphs;
    double advance = 0;
    bool blank = false;       // spaces only
    bool breakAfter = false;  // a line may end after it
};

struct TextEngine::Face {
    std::uint32_t id = 0;
    std::string file;
    int index = 0;
    FT_Face ft = nullptr;
    hb_font_t* font = nullptr;
    double unitsPerEm = 1;
    // In font units; descender positive.
    double ascender = 0;
    double descender = 0;
    double lineGap = 0;
    std::vector<Cluster> ellipsis;
};

namespace {

using Cluster = TextEngine::Cluster;

double widthOf(const std::vector<Cluster>& clusters) {
    double width = 0;
    for (const auto& cluster : clusters) width += cluster.advance;
    return width;
}

// Where the lines of one paragraph start and end: greedy, breaking after the last
// opportunity that fits (a blank, a hyphen, between wide characters), or between clusters
// when there is none or `anywhere`. Blanks at the end of a line may pass the width.
std::vector<std::pair<std::size_t, std::size_t>> wrapRanges(const std::vector<Cluster>& clusters,
                                                            double maxWidth, bool anywhere) {
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t start = 0;
    double width = 0;
    // The last cluster after which the line may break; `noBreak` while there is none. A plain
    // index, not an optional: GCC takes the optional's read for an uninitialised one.
    constexpr std::size_t noBreak = std::numeric_limits<std::size_t>::max();
    std::size_t breakAt = noBreak;
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        const Cluster& cluster = clusters[i];
        while (!cluster.blank && i > start && width + cluster.advance > maxWidth) {
            const std::size_t end = (!anywhere && breakAt != noBreak) ? breakAt + 1 : i;
            ranges.emplace_back(start, end);
            start = end;
            width = 0;
            breakAt = noBreak;
            for (std::size_t j = start; j < i; ++j) {
                width += clusters[j].advance;
                if (clusters[j].breakAfter)
                    breakAt = j;
            }
        }
        width += cluster.advance;
        if (cluster.breakAfter)
            breakAt = i;
    }
    ranges.emplace_back(start, clusters.size());
    return ranges;
}

void trimTrailingBlanks(std::vector<Cluster>& clusters) {
    while (!clusters.empty() && clusters.back().blank) clusters.pop_back();
}

void trimLeadingBlanks(std::vector<Cluster>& clusters) {
    auto first = std::find_if(clusters.begin(), clusters.end(),
                              [](const Cluster& cluster) { return !cluster.blank; });
    clusters.erase(clusters.begin(), first);
}

std::vector<Cluster> truncated(const std::vector<Cluster>& line,
                               const std::vector<Cluster>& ellipsis, double maxWidth,
                               LineBreakMode mode) {
    const double room = std::max(0.0, maxWidth - widthOf(ellipsis));
    std::vector<Cluster> front, back;
    double width = 0;
    auto takeFront = [&](double limit) {
        for (const auto& cluster : line) {
            if (width + cluster.advance > limit)
                break;
            width += cluster.advance;
            front.push_back(cluster);
        }
    };
    auto takeBack = [&](double limit) {
        for (auto it = line.rbegin(); it != line.rend() && front.size() + back.size() < line.size();
             ++it) {
            if (width + it->advance > limit)
                break;
            width += it->advance;
            back.insert(back.begin(), *it);
        }
    };
    switch (mode) {
        case LineBreakMode::byTruncatingHead:
            takeBack(room);
            break;
        case LineBreakMode::byTruncatingMiddle:
            takeFront(room / 2);
            takeBack(room);
            break;
        default:
            takeFront(room);
            break;
    }
    trimTrailingBlanks(front);
    trimLeadingBlanks(back);
    front.insert(front.end(), ellipsis.begin(), ellipsis.end());
    front.insert(front.end(), back.begin(), back.end());
    return front;
}

TextLayout::Line makeLine(std::vector<Cluster> clusters, bool rightToLeft, double scale) {
    trimTrailingBlanks(clusters);
    TextLayout::Line line;
    line.rightToLeft = rightToLeft;
    if (rightToLeft)
        std::reverse(clusters.begin(), clusters.end());
    double pen = 0;
    for (const auto& cluster : clusters) {
        auto place = [&](const Cluster::Glyph& glyph) {
            line.glyphs.push_back(
                TextLayout::Glyph{glyph.id, (pen + glyph.xOffset) * scale, glyph.yOffset * scale});
            pen += glyph.advance;
        };
        if (rightToLeft)
            std::for_each(cluster.glyphs.rbegin(), cluster.glyphs.rend(), place);
        else
            std::for_each(cluster.glyphs.begin(), cluster.glyphs.end(), place);
    }
    line.width = pen * scale;
    return line;
}

}  // namespace

Size TextLayout::size() const {
    double width = 0;
    for (const auto& line : lines) width = std::max(width, line.width);
    return Size{width, lineHeight * static_cast<double>(lines.size())};
}

TextEngine& TextEngine::shared() {
    static TextEngine* engine = new TextEngine();
    return *engine;
}

TextEngine::TextEngine() = default;

void TextEngine::setFallbackFontFilesForTesting(std::vector<std::string> files) {
    std::lock_guard lock(fallbackFiles().mutex);
    fallbackFiles().regular = files;
    fallbackFiles().bold = std::move(files);
}

bool TextEngine::startLocked(std::string* why) {
    if (started_)
        return freetype_ != nullptr;
    started_ = true;
    library_ = TextLibrary::load(why);
    if (!library_)
        return false;
    FT_Library freetype = nullptr;
    if (library_->FT_Init_FreeType(&freetype) != 0) {
        *why = "FreeType does not start";
        return false;
    }
    {
#if defined(__SANITIZE_ADDRESS__)
        // fontconfig drops a few blocks of its own while it parses its configuration; the
        // configuration is kept for the life of the process anyway.
        __lsan::ScopedDisabler ignoreFontconfigLeaks;
#endif
        // Null when fontconfig has no configuration: only the fallback files are tried then.
        fontconfig_ = library_->FcInitLoadConfigAndFonts();
    }
    buffer_ = library_->hb_buffer_create();
    glyphs_ = std::make_unique<GlyphCache>();
    freetype_ = freetype;
    return true;
}

TextEngine::Face* TextEngine::openFaceLocked(const std::string& file, int index) {
    for (const auto& face : faces_) {
        if (face->file == file && face->index == index)
            return face.get();
    }
    if (faces_.size() >= maxFaces)
        return faces_.front().get();
    FT_Face ft = nullptr;
    if (library_->FT_New_Face(freetype_, file.c_str(), index, &ft) != 0)
        return nullptr;
    hb_blob_t* blob = library_->hb_blob_create_from_file_or_fail(file.c_str());
    if (!blob) {
        library_->FT_Done_Face(ft);
        return nullptr;
    }
    hb_face_t* hbFace = library_->hb_face_create(blob, static_cast<unsigned>(index));
    library_->hb_blob_destroy(blob);
    const unsigned upem = library_->hb_face_get_upem(hbFace);
    hb_font_t* font = library_->hb_font_create(hbFace);
    library_->hb_face_destroy(hbFace);
    if (upem == 0) {
        library_->FT_Done_Face(ft);
        return nullptr;
    }
    library_->hb_font_set_scale(font, static_cast<int>(upem), static_cast<int>(upem));

    auto face = std::make_unique<Face>();
    face->id = static_cast<std::uint32_t>(faces_.size() + 1);
    face->file = file;
    face->index = index;
    face->ft = ft;
    face->font = font;
    face->unitsPerEm = upem;
    hb_font_extents_t extents{};
    if (library_->hb_font_get_h_extents(font, &extents) && extents.ascender > 0) {
        face->ascender = extents.ascender;
        face->descender = -static_cast<double>(extents.descender);
        face->lineGap = std::max<hb_position_t>(0, extents.line_gap);
    } else {
        face->ascender = ft->ascender;
        face->descender = -static_cast<double>(ft->descender);
        face->lineGap = std::max(0.0, ft->height - face->ascender - face->descender);
    }
    bool rightToLeft = false;
    face->ellipsis = shapeLocked(*face, kEllipsis, &rightToLeft);
    const bool missing =
        std::any_of(face->ellipsis.begin(), face->ellipsis.end(), [](const Cluster& c) {
            return std::any_of(c.glyphs.begin(), c.glyphs.end(),
                               [](const auto& g) { return g.id == 0; });
        });
    if (missing)
        face->ellipsis = shapeLocked(*face, plainEllipsis, &rightToLeft);
    for (auto& cluster : face->ellipsis) cluster.blank = false;
    faces_.push_back(std::move(face));
    return faces_.back().get();
}

TextEngine::Face* TextEngine::faceForLocked(const Font& font) {
    const auto key = std::make_pair(font.family, static_cast<int>(font.weight));
    for (const auto& [request, face] : matches_) {
        if (request == key)
            return face;
    }
    Face* face = nullptr;
    if (fontconfig_) {
        FcPattern* pattern = library_->FcPatternCreate();
        const std::string& family = font.family.empty() ? std::string(systemFamily) : font.family;
        library_->FcPatternAddString(pattern, FC_FAMILY,
                                     reinterpret_cast<const FcChar8*>(family.c_str()));
        library_->FcPatternAddInteger(pattern, FC_WEIGHT, fontconfigWeight(font.weight));
        library_->FcConfigSubstitute(fontconfig_, pattern, FcMatchPattern);
        library_->FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern* match = library_->FcFontMatch(fontconfig_, pattern, &result)) {
            FcChar8* file = nullptr;
            int index = 0;
            if (library_->FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
                library_->FcPatternGetInteger(match, FC_INDEX, 0, &index);
                face = openFaceLocked(reinterpret_cast<const char*>(file), index);
            }
            library_->FcPatternDestroy(match);
        }
        library_->FcPatternDestroy(pattern);
    }
    if (!face) {
        std::vector<std::string> files;
        {
            std::lock_guard lock(fallbackFiles().mutex);
            files = font.weight >= Font::Weight::semibold ? fallbackFiles().bold
                                                          : fallbackFiles().regular;
        }
        for (const auto& file : files) {
            if ((face = openFaceLocked(file, 0)))
                break;
        }
    }
    if (matches_.size() < maxMatches)
        matches_.emplace_back(key, face);
    else if (!face && !faces_.empty())
        face = faces_.front().get();
    return face;
}

std::vector<Cluster> TextEngine::shapeLocked(Face& face, std::string_view text, bool* rightToLeft) {
    // Control characters (tabs, carriage returns) would show as missing glyphs.
    std::string cleaned(text);
    for (char& c : cleaned) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    const int length = static_cast<int>(cleaned.size());
    library_->hb_buffer_reset(buffer_);
    library_->hb_buffer_add_utf8(buffer_, cleaned.data(), length, 0, length);
    library_->hb_buffer_guess_segment_properties(buffer_);
    library_->hb_shape(face.font, buffer_, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* infos = library_->hb_buffer_get_glyph_infos(buffer_, &count);
    const hb_glyph_position_t* positions = library_->hb_buffer_get_glyph_positions(buffer_, &count);
    *rightToLeft = HB_DIRECTION_IS_BACKWARD(library_->hb_buffer_get_direction(buffer_));

    std::vector<Cluster> clusters;
    std::vector<std::uint32_t> starts;
    for (unsigned k = 0; k < count; ++k) {
        const unsigned i = *rightToLeft ? count - 1 - k : k;
        if (clusters.empty() || infos[i].cluster != starts.back()) {
            clusters.emplace_back();
            starts.push_back(infos[i].cluster);
        }
        Cluster& cluster = clusters.back();
        cluster.glyphs.push_back(Cluster::Glyph{infos[i].codepoint, positions[i].x_advance,
                                                positions[i].x_offset, positions[i].y_offset});
        cluster.advance += positions[i].x_advance;
    }
    auto isWide = [&](std::size_t index) {
        return starts[index] < cleaned.size() &&
               static_cast<unsigned char>(cleaned[starts[index]]) >= 0xE3;
    };
    for (std::size_t index = 0; index < clusters.size(); ++index) {
        const std::size_t start = std::min<std::size_t>(starts[index], cleaned.size());
        std::size_t end = index + 1 < clusters.size() ? starts[index + 1] : cleaned.size();
        end = std::clamp(end, start, cleaned.size());
        const std::string_view piece = std::string_view(cleaned).substr(start, end - start);
        Cluster& cluster = clusters[index];
        cluster.blank = !piece.empty() && piece.find_first_not_of(' ') == std::string_view::npos;
        cluster.breakAfter = cluster.blank || (!piece.empty() && piece.back() == '-') ||
                             isWide(index) || (index + 1 < clusters.size() && isWide(index + 1));
    }
    return clusters;
}

std::shared_ptr<const TextLayout> TextEngine::layout(std::string_view text, const TextStyle& style,
                                                     double maxWidth) {
    text = boundedText(text, maxTextBytes);
    std::string why;
    std::unique_lock lock(mutex_);
    Face* face = startLocked(&why) ? faceForLocked(style.font) : nullptr;
    if (!face) {
        const bool report = !reported_;
        reported_ = true;
        lock.unlock();
        if (report)
            reportMissing(why.empty() ? "no font found" : why);
        return nullptr;
    }
    auto result = std::make_shared<TextLayout>();
    if (text.empty())
        return result;
    const double pointSize = style.font.pointSize;
    if (!(pointSize > 0) || !std::isfinite(pointSize))
        return result;
    const double scale = pointSize / face->unitsPerEm;
    result->face = face->id;
    result->pointSize = pointSize;
    result->ascent = face->ascender * scale;
    result->descent = face->descender * scale;
    result->lineHeight = (face->ascender + face->descender + face->lineGap) * scale;

    const double maxUnits = std::isfinite(maxWidth) ? std::max(0.0, maxWidth) / scale
                                                    : std::numeric_limits<double>::infinity();
    const std::size_t maxLines =
        style.numberOfLines > 0 ? static_cast<std::size_t>(style.numberOfLines) : kMaxLines;
    const bool wrap = maxLines != 1 && std::isfinite(maxUnits);
    const bool anywhere = style.lineBreakMode == LineBreakMode::byCharWrapping;

    std::vector<std::pair<std::vector<Cluster>, bool>> lines;
    bool overflow = false;
    std::size_t from = 0;
    while (from <= text.size() && !overflow) {
        std::size_t end = text.find('\n', from);
        if (end == std::string_view::npos)
            end = text.size();
        if (lines.size() == maxLines) {
            overflow = true;
            break;
        }
        bool rightToLeft = false;
        std::vector<Cluster> clusters =
            shapeLocked(*face, text.substr(from, end - from), &rightToLeft);
        const auto ranges =
            wrap ? wrapRanges(clusters, maxUnits, anywhere)
                 : std::vector<std::pair<std::size_t, std::size_t>>{{0, clusters.size()}};
        for (const auto& [first, last] : ranges) {
            if (lines.size() == maxLines) {
                overflow = true;
                break;
            }
            lines.emplace_back(
                std::vector<Cluster>(clusters.begin() + first, clusters.begin() + last),
                rightToLeft);
        }
        from = end + 1;
    }

    const LineBreakMode mode = style.lineBreakMode;
    const bool truncating = mode == LineBreakMode::byTruncatingHead ||
                            mode == LineBreakMode::byTruncatingTail ||
                            mode == LineBreakMode::byTruncatingMiddle;
    if (truncating && !lines.empty()) {
        auto& last = lines.back().first;
        if (overflow || widthOf(last) > maxUnits) {
            // Head and middle truncation apply to a single line; several lines lose their tail.
            const LineBreakMode cut = maxLines == 1 ? mode : LineBreakMode::byTruncatingTail;
            last = truncated(last, face->ellipsis, maxUnits, cut);
            result->truncated = true;
        }
    }
    result->truncated = result->truncated || overflow;
    lock.unlock();
    for (auto& [clusters, rightToLeft] : lines)
        result->lines.push_back(makeLine(std::move(clusters), rightToLeft, scale));
    // A line cut at the edge leaves text out as surely as an ellipsis does.
    for (const auto& line : result->lines)
        result->truncated = result->truncated || line.width > maxUnits * scale + widthTolerance;
    return result;
}

std::shared_ptr<const GlyphBitmap> TextEngine::glyphLocked(Face& face, std::uint32_t glyph,
                                                           std::int32_t sizeX, std::int32_t sizeY) {
    const GlyphCache::Key key{face.id, glyph, sizeX, sizeY};
    if (auto cached = glyphs_->find(key))
        return cached;
    auto bitmap = std::make_shared<GlyphBitmap>();
    if (library_->FT_Set_Char_Size(face.ft, sizeX, sizeY, 72, 72) == 0 &&
        library_->FT_Load_Glyph(face.ft, glyph, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0) {
        FT_GlyphSlot slot = face.ft->glyph;
        const bool rendered = slot->format == FT_GLYPH_FORMAT_BITMAP ||
                              library_->FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0;
        const FT_Bitmap& source = slot->bitmap;
        const std::size_t bytes = static_cast<std::size_t>(source.width) * source.rows;
        if (rendered && source.pixel_mode == FT_PIXEL_MODE_GRAY && source.buffer && bytes > 0 &&
            bytes <= maxGlyphBytes) {
            bitmap->width = static_cast<int>(source.width);
            bitmap->height = static_cast<int>(source.rows);
            bitmap->left = slot->bitmap_left;
            bitmap->top = slot->bitmap_top;
            bitmap->coverage.resize(bytes);
            const int pitch = source.pitch;
            for (int row = 0; row < bitmap->height; ++row) {
                // A negative pitch stores the rows bottom up.
                const unsigned char* line =
                    pitch >= 0 ? source.buffer + static_cast<std::ptrdiff_t>(row) * pitch
                               : source.buffer +
                                     static_cast<std::ptrdiff_t>(bitmap->height - 1 - row) * -pitch;
                std::copy(
                    line, line + bitmap->width,
                    bitmap->coverage.begin() + static_cast<std::ptrdiff_t>(row) * bitmap->width);
            }
        }
    }
    glyphs_->insert(key, bitmap);
    return bitmap;
}

void TextEngine::draw(const TextLayout& layout, GraphicsContext& context, const Rect& rect,
                      TextAlignment alignment, Color colour, bool centreVertically) {
    if (layout.lines.empty() || colour.isClear() || layout.face == 0)
        return;
    const double pixelsX = layout.pointSize * context.deviceScaleX();
    const double pixelsY = layout.pointSize * context.deviceScaleY();
    if (!(pixelsX > 0) || !(pixelsY > 0) || pixelsX > maxPixelSize || pixelsY > maxPixelSize)
        return;
    const auto sizeX = static_cast<std::int32_t>(std::lround(pixelsX * 64));
    const auto sizeY = static_cast<std::int32_t>(std::lround(pixelsY * 64));

    std::vector<std::vector<std::shared_ptr<const GlyphBitmap>>> bitmaps(layout.lines.size());
    {
        std::lock_guard lock(mutex_);
        if (layout.face > faces_.size())
            return;
        Face& face = *faces_[layout.face - 1];
        for (std::size_t i = 0; i < layout.lines.size(); ++i) {
            for (const auto& glyph : layout.lines[i].glyphs)
                bitmaps[i].push_back(glyphLocked(face, glyph.id, sizeX, sizeY));
        }
    }

    const double blockHeight = layout.size().height;
    const double top = centreVertically ? rect.midY() - blockHeight / 2 : rect.minY();
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const TextLayout::Line& line = layout.lines[i];
        TextAlignment align = alignment;
        if (align == TextAlignment::natural)
            align = line.rightToLeft ? TextAlignment::right : TextAlignment::left;
        double left = rect.minX();
        if (align == TextAlignment::center)
            left = rect.midX() - line.width / 2;
        else if (align == TextAlignment::right)
            left = rect.maxX() - line.width;
        const double baseline = top + layout.ascent + layout.lineHeight * static_cast<double>(i);
        for (std::size_t g = 0; g < line.glyphs.size(); ++g) {
            const GlyphBitmap& bitmap = *bitmaps[i][g];
            if (bitmap.coverage.empty())
                continue;
            const TextLayout::Glyph& glyph = line.glyphs[g];
            const Point pen = context.devicePoint(Point{left + glyph.x, baseline - glyph.y});
            const int x = static_cast<int>(std::lround(pen.x)) + bitmap.left;
            const int y = static_cast<int>(std::lround(pen.y)) - bitmap.top;
            context.drawCoverage(bitmap.coverage.data(), bitmap.width, bitmap.height, x, y, colour);
        }
    }
}

bool TextEngine::hasFont() {
    return layout("", TextStyle{}, 0) != nullptr;
}

std::size_t TextEngine::cachedGlyphCount() const {
    std::lock_guard lock(mutex_);
    return glyphs_ ? glyphs_->count() : 0;
}

void TextEngine::reportMissing(const std::string& why) {
    const std::string_view pieces[] = {"pindle: text is not drawn: ", why, "\n"};
    StandardError::writeGathered(pieces);
}

}  // namespace pindle::platform::ui
