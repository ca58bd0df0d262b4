// TextLibrary: FreeType, HarfBuzz and fontconfig, opened with dlopen on the first text
// measured or drawn rather than when the platform library loads. Together they map a few
// megabytes and fontconfig reads its configuration and font caches when it starts, which a
// process that never shows text (most hosts only talk to the backend) should not pay for.
//
// Every function the text engine calls is a member of the table, resolved once by name. The
// platform library links none of the three (and with --no-undefined), so a call that bypasses
// the table fails to link.
//
// Only the text engine includes this header; the three libraries' headers are included only
// here.
//
// Thread-safety: loading happens once, under the C++ runtime's static-initialisation lock;
// afterwards the table is read-only. The libraries' own objects (FT_Library, FT_Face) are
// not thread-safe: the text engine serialises its use of them. No callbacks.
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <string>
#include <vector>

// X(library, function) for every function the text engine calls; `library` is the index of
// the file that exports it in TextLibrary::libraryNames().
#define PINDLE_TEXT_FUNCTIONS(X)             \
    X(0, FT_Init_FreeType)                   \
    X(0, FT_New_Face)                        \
    X(0, FT_Done_Face)                       \
    X(0, FT_Set_Char_Size)                   \
    X(0, FT_Load_Glyph)                      \
    X(0, FT_Render_Glyph)                    \
    X(1, hb_blob_create_from_file_or_fail)   \
    X(1, hb_blob_destroy)                    \
    X(1, hb_face_create)                     \
    X(1, hb_face_destroy)                    \
    X(1, hb_face_get_upem)                   \
    X(1, hb_font_create)                     \
    X(1, hb_font_set_scale)                  \
    X(1, hb_font_get_h_extents)              \
    X(1, hb_font_get_nominal_glyph)          \
    X(1, hb_buffer_create)                   \
    X(1, hb_buffer_destroy)                  \
    X(1, hb_buffer_reset)                    \
    X(1, hb_buffer_add_utf8)                 \
    X(1, hb_buffer_guess_segment_properties) \
    X(1, hb_buffer_get_direction)            \
    X(1, hb_buffer_get_glyph_infos)          \
    X(1, hb_buffer_get_glyph_positions)      \
    X(1, hb_shape)                           \
    X(2, FcInitLoadConfigAndFonts)           \
    X(2, FcPatternCreate)                    \
    X(2, FcPatternDestroy)                   \
    X(2, FcPatternAddString)                 \
    X(2, FcPatternAddInteger)                \
    X(2, FcPatternGetString)                 \
    X(2, FcPatternGetInteger)                \
    X(2, FcConfigSubstitute)                 \
    X(2, FcDefaultSubstitute)                \
    X(2, FcFontMatch)

namespace pindle::platform::ui {

class TextLibrary {
  public:
    // The loaded table, loading it on the first call; null when a library or a function is
    // missing, with `reason` (when given) naming what could not be loaded.
    static const TextLibrary* load(std::string* reason = nullptr);

    // The file names dlopen is asked for: FreeType, HarfBuzz, fontconfig.
    static std::vector<std::string> libraryNames();

    TextLibrary(const TextLibrary&) = delete;
    TextLibrary& operator=(const TextLibrary&) = delete;

#define PINDLE_TEXT_MEMBER(library, function) decltype(&::function) function = nullptr;
    PINDLE_TEXT_FUNCTIONS(PINDLE_TEXT_MEMBER)
#undef PINDLE_TEXT_MEMBER

  private:
    TextLibrary() = default;
};

}  // namespace pindle::platform::ui
