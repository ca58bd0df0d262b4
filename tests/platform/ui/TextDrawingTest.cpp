// Text in snapshots: glyphs inside the view that shows them and nowhere else, wrapping,
// truncation, intrinsic sizes that lay text out, the glyph cache, and a machine without fonts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "platform/log/StandardError.hpp"
#include "platform/ui/Button.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/TextField.hpp"
#include "platform/ui/TextView.hpp"
#include "platform/ui/View.hpp"
#include "platform/ui/private/GlyphCache.hpp"
#include "platform/ui/private/TextEngine.hpp"
#include "tests/support/FreshProcess.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform::ui {
namespace {

using Pixel = Image::Pixel;

constexpr Pixel kWhite{255, 255, 255, 255};
constexpr double kUnbounded = std::numeric_limits<double>::infinity();
constexpr const char* kAlphabet = "abcdefghijklmnopqrstuvwxyz";

// Pixels of `image` (at `scale`) that differ from `background`, inside and outside `rect`
// (in points).
struct Ink {
    int inside = 0;
    int outside = 0;
};
Ink inkAround(const Image& image, const Rect& rect, double scale, Pixel background = kWhite) {
    Ink ink;
    for (int y = 0; y < image.pixelHeight(); ++y) {
        for (int x = 0; x < image.pixelWidth(); ++x) {
            if (image.pixelAt(x, y) == background)
                continue;
            const Point centre{(x + 0.5) / scale, (y + 0.5) / scale};
            (rect.contains(centre) ? ink.inside : ink.outside)++;
        }
    }
    return ink;
}

// How many separate bands of rows hold ink: the lines drawn.
int inkBands(const Image& image, Pixel background = kWhite) {
    int bands = 0;
    bool inBand = false;
    for (int y = 0; y < image.pixelHeight(); ++y) {
        bool ink = false;
        for (int x = 0; x < image.pixelWidth() && !ink; ++x)
            ink = image.pixelAt(x, y) != background;
        if (ink && !inBand)
            ++bands;
        inBand = ink;
    }
    return bands;
}

// A white view holding `view` at `frame`.
ViewPtr onWhite(const ViewPtr& view, const Rect& frame, Size canvas = {240, 120}) {
    auto root = View::make(Rect::make(0, 0, canvas.width, canvas.height));
    root->setBackgroundColor(Color::whiteColor());
    view->setFrame(frame);
    root->addSubview(view);
    return root;
}

LabelPtr label(const std::string& text, int lines = 1,
               LineBreakMode mode = LineBreakMode::byTruncatingTail) {
    auto made = Label::make();
    made->setText(text);
    made->setNumberOfLines(lines);
    made->setLineBreakMode(mode);
    return made;
}

TEST(TextDrawingTest, GlyphsFallInsideTheirViewAndNowhereElse) {
    const Rect frame = Rect::make(30, 20, 150, 60);
    auto darkButton = Button::make();
    darkButton->setTitle("Play");
    auto field = TextField::make();
    field->setText("alice@example.com");
    auto view = TextView::make();
    view->setText(
        "Several words of typed text, wrapped at the view's width and cut at its "
        "bottom edge, far more than fits in sixty points of height.");
    struct Case {
        const char* name;
        ViewPtr view;
    };
    const Case cases[] = {
        {"label", label("Pindle: Ågrén ✓")},
        // Clipped, not truncated: the line runs past the right edge, its glyphs stop there.
        {"clipped label", label(std::string(kAlphabet) + kAlphabet, 1, LineBreakMode::byClipping)},
        {"wrapped label", label("Several lines wrap inside the label and the rest is cut.", 0,
                                LineBreakMode::byWordWrapping)},
        {"button title", darkButton},
        {"text field", field},
        {"text view", view},
    };
    for (const auto& [name, subject] : cases) {
        if (subject == darkButton)
            darkButton->setTitleColor(Color::black());
        auto root = onWhite(subject, frame);
        for (double scale : {1.0, 2.0}) {
            auto image = root->snapshotImage(scale);
            ASSERT_NE(image, nullptr);
            const Ink ink = inkAround(*image, frame, scale);
            EXPECT_GT(ink.inside, 20) << name << " at " << scale;
            EXPECT_EQ(ink.outside, 0) << name << " at " << scale;
        }
    }
}

TEST(TextDrawingTest, TheTextViewStartsAtTheTopAndTheLabelInTheMiddle) {
    const Rect frame = Rect::make(0, 0, 200, 100);
    auto view = TextView::make();
    view->setText("Top");
    auto viewImage = onWhite(view, frame)->snapshotImage();
    auto centred = onWhite(label("Top"), frame)->snapshotImage();
    auto firstInkRow = [](const Image& image) {
        for (int y = 0; y < image.pixelHeight(); ++y)
            for (int x = 0; x < image.pixelWidth(); ++x)
                if (image.pixelAt(x, y) != kWhite)
                    return y;
        return -1;
    };
    const int top = firstInkRow(*viewImage);
    EXPECT_GE(top, TextView::textInsets.top);
    EXPECT_LT(top, 30);
    EXPECT_GT(firstInkRow(*centred), 35);
}

TEST(TextDrawingTest, OneLineTruncationShowsWhatFitsBesideAnEllipsis) {
    const double width = 100;
    const std::string text = kAlphabet;
    const std::string ellipsis = "\xE2\x80\xA6";
    auto widthOf = [](const std::string& piece) {
        return label(piece)->sizeThatFits(Size{kUnbounded, kUnbounded}).width;
    };
    ASSERT_GT(widthOf(text), width);
    // What each mode should show: the most of the text that fits beside the ellipsis.
    std::string head, tail;
    for (std::size_t n = 1; n <= text.size(); ++n) {
        if (widthOf(text.substr(0, n) + ellipsis) <= width)
            tail = text.substr(0, n) + ellipsis;
        if (widthOf(ellipsis + text.substr(text.size() - n)) <= width)
            head = ellipsis + text.substr(text.size() - n);
    }
    ASSERT_FALSE(tail.empty());
    struct Case {
        LineBreakMode mode;
        std::string shown;
    };
    const Case cases[] = {{LineBreakMode::byTruncatingTail, tail},
                          {LineBreakMode::byTruncatingHead, head}};
    const Rect frame = Rect::make(10, 10, width, 30);
    for (const auto& [mode, shown] : cases) {
        auto truncated = label(text, 1, mode);
        auto image = onWhite(truncated, frame)->snapshotImage(2);
        auto expected =
            onWhite(label(shown, 1, LineBreakMode::byClipping), frame)->snapshotImage(2);
        EXPECT_TRUE(truncated->isTruncated()) << shown;
        EXPECT_EQ(image->rgba(), expected->rgba()) << "expected " << shown;
    }

    // The middle keeps both ends; clipping keeps the start and draws no ellipsis.
    auto middle = label(text, 1, LineBreakMode::byTruncatingMiddle);
    auto middleImage = onWhite(middle, frame)->snapshotImage(2);
    EXPECT_TRUE(middle->isTruncated());
    EXPECT_NE(middleImage->rgba(), onWhite(label(tail), frame)->snapshotImage(2)->rgba());
    EXPECT_NE(middleImage->rgba(), onWhite(label(head), frame)->snapshotImage(2)->rgba());
    auto clipped = onWhite(label(text, 1, LineBreakMode::byClipping), frame)->snapshotImage(2);
    auto start = onWhite(label(text.substr(0, 12), 1, LineBreakMode::byClipping), frame);
    EXPECT_EQ(clipped->pixelAt(30, 30), start->snapshotImage(2)->pixelAt(30, 30));

    // Text that fits is drawn whole, with nothing left out.
    auto fits = label("abc");
    onWhite(fits, frame);
    EXPECT_FALSE(fits->isTruncated());
}

TEST(TextDrawingTest, TextWrapsIntoAsManyLinesAsAllowed) {
    const std::string text = "one two three four five six seven eight nine ten eleven twelve";
    const double lineHeight = label("Ag")->intrinsicContentSize().height;
    const Rect frame = Rect::make(0, 0, 120, 200);

    auto unlimited = label(text, 0, LineBreakMode::byWordWrapping);
    const Size needed = unlimited->sizeThatFits(Size{120, 0});
    const int lines = static_cast<int>(std::lround(needed.height / lineHeight));
    EXPECT_GE(lines, 3);
    EXPECT_LE(needed.width, 120);
    EXPECT_EQ(inkBands(*onWhite(unlimited, frame, {120, 200})->snapshotImage()), lines);
    EXPECT_FALSE(unlimited->isTruncated());

    for (int limit : {1, 2}) {
        auto limited = label(text, limit);
        EXPECT_NEAR(limited->sizeThatFits(Size{120, 0}).height, limit * lineHeight, 1) << limit;
        EXPECT_EQ(inkBands(*onWhite(limited, frame, {120, 200})->snapshotImage()), limit);
        EXPECT_TRUE(limited->isTruncated()) << limit;
    }

    // Paragraphs start new lines; a word wider than the line breaks inside itself.
    EXPECT_EQ(
        inkBands(*onWhite(label("first\nsecond\nthird", 0), frame, {120, 200})->snapshotImage()),
        3);
    auto longWord = label(std::string(kAlphabet) + kAlphabet, 0, LineBreakMode::byWordWrapping);
    EXPECT_GE(inkBands(*onWhite(longWord, frame, {120, 200})->snapshotImage()), 3);
    EXPECT_LE(longWord->sizeThatFits(Size{120, 0}).width, 120);
}

TEST(TextDrawingTest, IntrinsicSizeFollowsTheTextAndLaysTheLabelOut) {
    auto root = View::make(Rect::make(0, 0, 300, 100));
    root->setBackgroundColor(Color::whiteColor());
    auto centred = Label::make(root->bounds());
    centred->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(centred);
    root->addConstraints({centred->centerXAnchor().constraint(root->centerXAnchor()),
                          centred->centerYAnchor().constraint(root->centerYAnchor())});

    centred->setText("Hi");
    root->layoutIfNeeded();
    const Size small = centred->intrinsicContentSize();
    EXPECT_GT(small.width, 5);
    EXPECT_EQ(centred->frame().size, small);

    centred->setText("Video is unavailable");
    EXPECT_TRUE(root->needsLayout());
    root->layoutIfNeeded();
    const Size wide = centred->intrinsicContentSize();
    EXPECT_GT(wide.width, 4 * small.width);
    EXPECT_EQ(wide.height, small.height);
    EXPECT_EQ(centred->frame().size, wide);
    EXPECT_NEAR(centred->frame().midX(), 150, 0.5);
    const Ink ink = inkAround(*root->snapshotImage(), centred->frame(), 1);
    EXPECT_GT(ink.inside, 50);
    EXPECT_EQ(ink.outside, 0);

    centred->setFont(Font::boldSystemFont(34));
    root->layoutIfNeeded();
    EXPECT_GT(centred->frame().height(), 1.8 * small.height);
    EXPECT_GT(centred->frame().width(), wide.width);

    // A label of several lines wraps at its preferred width when measured.
    centred->setNumberOfLines(0);
    centred->setPreferredMaxLayoutWidth(120);
    root->layoutIfNeeded();
    EXPECT_LE(centred->frame().width(), 120);
    EXPECT_GT(centred->frame().height(), 3 * small.height);

    auto button = Button::make();
    button->setTitle("OK");
    EXPECT_EQ(button->intrinsicContentSize(), (Size{44, 44}));
    button->setTitle("A title longer than the minimum");
    EXPECT_GT(button->intrinsicContentSize().width, 150);
    EXPECT_TRUE(Label::make()->intrinsicContentSize() == (Size{0, 0}));
}

TEST(TextDrawingTest, GlyphsAreRenderedOncePerFontSizeAndGlyph) {
    auto shown = label("Cache me once");
    auto root = onWhite(shown, Rect::make(0, 0, 200, 40));
    auto first = root->snapshotImage(3);
    const std::size_t cached = TextEngine::shared().cachedGlyphCount();
    EXPECT_GT(cached, 0u);
    auto again = root->snapshotImage(3);
    EXPECT_EQ(TextEngine::shared().cachedGlyphCount(), cached);
    EXPECT_EQ(first->rgba(), again->rgba());
    root->snapshotImage(3.5);  // another pixel size renders its own glyphs
    EXPECT_GT(TextEngine::shared().cachedGlyphCount(), cached);
}

TEST(GlyphCacheTest, KeepsTheMostRecentlyUsedGlyphsWithinItsLimit) {
    auto glyph = [](int bytes) {
        auto made = std::make_shared<GlyphBitmap>();
        made->width = bytes;
        made->height = 1;
        made->coverage.assign(static_cast<std::size_t>(bytes), 255);
        return made;
    };
    auto key = [](std::uint32_t id, std::int32_t size = 17 * 64) {
        return GlyphCache::Key{1, id, size, size};
    };
    GlyphCache cache(3000);
    cache.insert(key(1), glyph(800));
    cache.insert(key(2), glyph(800));
    cache.insert(key(3), glyph(800));
    EXPECT_NE(cache.find(key(1)), nullptr);  // now the most recent
    EXPECT_EQ(cache.find(key(1, 18 * 64)), nullptr);

    cache.insert(key(4), glyph(800));
    EXPECT_EQ(cache.find(key(2)), nullptr);  // the least recently used went
    EXPECT_NE(cache.find(key(1)), nullptr);
    EXPECT_NE(cache.find(key(3)), nullptr);
    EXPECT_NE(cache.find(key(4)), nullptr);
    EXPECT_LE(cache.byteCount(), cache.byteLimit());

    cache.insert(key(5), glyph(5000));  // bigger than the whole cache: not kept
    EXPECT_EQ(cache.find(key(5)), nullptr);
    EXPECT_EQ(cache.count(), 3u);
    cache.insert(key(1), glyph(2800));  // a replacement drops the rest to fit
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_LE(cache.byteCount(), cache.byteLimit());
}

// Whether FreeType, HarfBuzz or fontconfig is mapped into this process.
bool textLibrariesMapped() {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
    return text.find("/libfreetype.so") != std::string::npos ||
           text.find("/libharfbuzz.so") != std::string::npos ||
           text.find("/libfontconfig.so") != std::string::npos;
}

TEST(TextDrawingTest, TheTextLibrariesLoadOnTheFirstTextMeasured) {
    testing::inFreshProcess([] {
        auto quiet = onWhite(View::make(), Rect::make(0, 0, 50, 50));
        auto unmeasured = Label::make(Rect::make(0, 0, 50, 20));
        unmeasured->setText("not yet");
        ASSERT_NE(quiet->snapshotImage(), nullptr);
        EXPECT_FALSE(textLibrariesMapped());
        EXPECT_GT(unmeasured->intrinsicContentSize().width, 0);
        EXPECT_TRUE(textLibrariesMapped());
    });
}

TEST(TextDrawingTest, WithoutFontsNothingIsDrawnAndOneLineSaysSo) {
    testing::inFreshProcess([] {
        // fontconfig with no font folders, and no fallback file.
        const std::string folder = testing::makeScratchFolder("no-fonts");
        std::ofstream(folder + "/fonts.conf") << "<?xml version=\"1.0\"?>\n<fontconfig/>\n";
        ASSERT_EQ(setenv("FONTCONFIG_FILE", (folder + "/fonts.conf").c_str(), 1), 0);
        TextEngine::setFallbackFontFilesForTesting({folder + "/DejaVuSans.ttf"});

        StandardError::Capture captured;
        const Rect frame = Rect::make(10, 10, 200, 40);
        auto shown = label("No font, no glyphs");
        auto image = onWhite(shown, frame)->snapshotImage(2);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(inkAround(*image, frame, 2).inside, 0);
        // Layout still has a size to work with.
        EXPECT_GT(shown->intrinsicContentSize().width, 0);
        EXPECT_FALSE(shown->isTruncated());

        auto button = Button::make();
        button->setTitle("Play");
        onWhite(button, frame)->snapshotImage();
        auto field = TextField::make();
        field->setText("typed");
        onWhite(field, frame)->snapshotImage();

        const auto writes = captured.writes();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].rfind("pindle: text is not drawn", 0), 0u) << writes[0];
    });
}

}  // namespace
}  // namespace pindle::platform::ui
