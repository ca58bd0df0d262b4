#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>

#include "PindleCore/legacy/PAVHelper.hpp"
#include "PindleCore/legacy/PAppUtil.hpp"
#include "PindleCore/legacy/PAudioWriterInput.hpp"
#include "PindleCore/legacy/PFoundationExtensions.hpp"
#include "PindleCore/legacy/PSharedInstance.hpp"
#include "PindleCore/legacy/PVideoWriterInput.hpp"
#include "PindleCore/legacy/PWeakTimerTarget.hpp"
#include "platform/app/Device.hpp"
#include "platform/media/AssetWriter.hpp"
#include "platform/media/AssetWriterInputPixelBufferAdaptor.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

using platform::Value;

TEST(PFoundationExtensionsTest, TextsAndDictionaries) {
    EXPECT_EQ(md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5(std::string_view("abc\0def", 7)), md5("abc")) << "a C string ends at zero";
    EXPECT_EQ(safeStringWithCString(nullptr), std::nullopt);
    EXPECT_EQ(occurrenceCountOfCharacter("", u'a'), 0u);
    EXPECT_EQ(occurrenceCountOfCharacter("banana", u'a'), 3u);
    EXPECT_EQ(occurrenceCountOfCharacter("\xF0\x9F\x98\x80x\xF0\x9F\x98\x80", 0xD83D), 2u);

    EXPECT_EQ(p_jsonStringWithPrettyPrint({{"b", Value(1)}, {"a", Value("x")}}, false),
              R"({"a":"x","b":1})");
    EXPECT_EQ(p_jsonStringWithPrettyPrint({{"a", Value(1)}}, true), "{\n  \"a\": 1\n}");
    EXPECT_EQ(
        p_jsonStringWithPrettyPrint({{"when", Value(std::make_shared<platform::Object>())}}, true),
        "{}");

    const auto escaped = PDictionaryByReplacingPercentEscapesInEntriesFromDictionary(
        {{"a b", Value("x/y?")}, {"n", Value(5)}});
    ASSERT_EQ(escaped.size(), 2u);
    EXPECT_EQ(*escaped.at("a%20b").asString(), "x%2Fy%3F");
    EXPECT_EQ(escaped.at("n"), Value(5));
}

// Whatever bytes a C string holds, the text that comes back is well-formed UTF-8: valid text
// unchanged, each ill-formed part one U+FFFD.
TEST(PFoundationExtensionsTest, SafeStringsAreWellFormedUTF8) {
    const std::string bad = "\xEF\xBF\xBD";
    const struct {
        const char* name;
        const char* bytes;
        std::string text;
    } cases[] = {
        {"plain", "abc", "abc"},
        {"valid multi-byte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"stray continuation",
         "a\x80"
         "b",
         "a" + bad + "b"},
        {"byte never used",
         "a\xFF"
         "b",
         "a" + bad + "b"},
        {"truncated at the end", "a\xE2\x82", "a" + bad},
        {"truncated before ASCII", "\xF0\x9F\x98x", bad + "x"},
        {"overlong slash", "\xC0\xAF", bad + bad},
        {"overlong three bytes", "\xE0\x80\xAF", bad + bad + bad},
        {"surrogate", "\xED\xA0\x80", bad + bad + bad},
        {"past U+10FFFF", "\xF4\x90\x80\x80", bad + bad + bad + bad},
        {"latin-1", "caf\xE9", "caf" + bad},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto text = safeStringWithCString(c.bytes);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, c.text);
    }
}

class Described : public PDescribesProperties {
  public:
    std::string propertiesClassName() const override { return "PThing"; }
    std::vector<std::pair<std::string, platform::Value>> declaredProperties() const override {
        return {{"title", Value("clip")},
                {"count", Value(3)},
                {"owner", Value()},
                {"tags", Value(platform::Array{Value("a")})}};
    }
};

TEST(PFoundationExtensionsTest, DescriptionPropertiesListsTheClassThenEachProperty) {
    const std::string tags = Value(platform::Array{Value("a")}).description();
    EXPECT_EQ(descriptionProperties(Described()),
              "class = PThing;title = clip;count = 3;owner = (null);tags = " + tags + ";");
}

TEST(PFoundationExtensionsTest, RectangleCornersFromText) {
    const struct {
        const char* text;
        unsigned corners;
    } cases[] = {
        {"", PUIRectCornerAllCorners},
        {"TopLeftBottomRight", 9},
        {"TopRight|BottomLeft", 6},
        {"topleft and nothing else", 0},
        {"TopLeft TopRight BottomLeft BottomRight", 15},
    };
    for (const auto& c : cases) EXPECT_EQ(PUIRectCornerFromString(c.text), c.corners) << c.text;
}

struct First {
    int value = 1;
};
struct Second {
    int value = 2;
};

TEST(PFoundationExtensionsTest, EachClassHasItsOwnSharedInstance) {
    // One instance per class for the whole process, whichever thread asks first.
    EXPECT_EQ(&sharedInstance<First>(),
              std::async(std::launch::async, [] { return &sharedInstance<First>(); }).get());
    EXPECT_EQ(sharedInstance<First>().value, 1);
    EXPECT_EQ(sharedInstance<Second>().value, 2);
}

// The zone offset of the formatted dates follows the process's zone; the test pins it.
class PAppUtilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ"))
            savedZone_ = zone;
        ::setenv("TZ", "UTC-2", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedZone_)
            ::setenv("TZ", savedZone_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
        platform::Device::current().setSystemVersion(platform::Device::defaultSystemVersion);
    }
    std::optional<std::string> savedZone_;
};

TEST_F(PAppUtilTest, DatesWithAColonInTheZoneAndShortTexts) {
    const platform::Date instant = platform::Date::fromTimeIntervalSince1970(1488363630);
    const std::string text = PAppUtil::getStringFromDateWithSemicolonAtEnd(instant);
    EXPECT_EQ(text, "2017-03-01T12:20:30+02:00");
    EXPECT_EQ(PAppUtil::getDateFromStringWithSemicolonAtEnd(text), instant);
    EXPECT_EQ(PAppUtil::dateFormatterGMT().string(instant), "2017-03-01T10:20:30.000Z");
    for (const char* shortText : {"", "2017-03-01T12:20:30+02", "2017-03-01T12:20:30+0"})
        EXPECT_EQ(PAppUtil::getDateFromStringWithSemicolonAtEnd(shortText), std::nullopt)
            << shortText;

    platform::Device::current().setSystemVersion("10.3");
    EXPECT_EQ(PAppUtil::systemVersion(), "1");
    EXPECT_FLOAT_EQ(deviceSystemVersion(), 10.3f);
    EXPECT_FALSE(PAppUtil::deviceName().empty());
}

class PWeakTimerTargetTest : public platform::testing::VirtualTimeTest {};

TEST_F(PWeakTimerTargetTest, AGoneTargetInvalidatesTheTimerAndHearsNothing) {
    auto target = std::make_shared<platform::Object>();
    int delivered = 0;
    auto trampoline = std::make_shared<PWeakTimerTarget>(
        target, [&](platform::Object&, platform::Timer&) { ++delivered; });
    std::weak_ptr<platform::Timer> timer = platform::Timer::scheduledTimer(
        1.0, true, [trampoline](platform::Timer& t) { trampoline->timerDidFire(t); });
    advance(1.0);
    platform::MainThread::drain();
    EXPECT_EQ(delivered, 1);
    target.reset();
    advance(1.0);
    platform::MainThread::drain();
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(timer.expired()) << "invalidated, the timer lets go of itself";
}

TEST(PWriterInputsTest, VideoIs960x540WhateverTheRectangleAndThumbsAreTurned) {
    platform::testing::TemporaryFolder folder;
    const std::string path = folder / "fixed.mp4";
    auto writer = platform::AssetWriter::make(platform::URL::fileURLWithPath(path),
                                              platform::AssetWriter::fileTypeMPEG4);
    auto video = std::make_shared<PVideoWriterInput>(platform::ui::Rect::make(10, 20, 100, 100));
    auto audio = std::make_shared<PAudioWriterInput>();
    ASSERT_TRUE(video->videoSettings() && video->videoSettings()->cleanAperture &&
                audio->audioSettings());
    EXPECT_EQ(video->videoSettings()->cleanAperture->width, 100);
    EXPECT_EQ(audio->audioSettings()->channelLayout.size(), 32u);
    writer->add(video);
    writer->add(audio);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(platform::MediaTime::zero());
    auto picture = platform::PixelBuffer::make(platform::PixelBuffer::Format::argb, 100, 100);
    ASSERT_TRUE(platform::AssetWriterInputPixelBufferAdaptor::make(video)->append(
        picture, platform::MediaTime::zero()));
    ASSERT_TRUE(audio->append(platform::SampleBuffer::makeAudio(
        {16000, 2}, std::vector<std::int16_t>(2048), platform::MediaTime::zero())));
    std::promise<void> done;
    writer->finishWriting([&] { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_EQ(writer->status(), platform::AssetWriter::Status::completed);
    const auto asset = platform::URLAsset::make(platform::URL::fileURLWithPath(path));
    const auto tracks = asset->tracksWithMediaType(platform::MediaType::video);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].naturalSize, (platform::Size{960, 540}));
    EXPECT_EQ(asset->tracksWithMediaType(platform::MediaType::audio)[0].audioSampleRate, 16000);

    // Thumbnails: none without a URL, turned for display otherwise.
    EXPECT_EQ(PAVHelper::generateThumbForAssetURL(std::nullopt), nullptr);
    const std::string portrait = folder / "portrait.mp4";
    ASSERT_EQ(platform::testing::writeClip(portrait, {.width = 160, .height = 120, .rotation = 90}),
              std::nullopt);
    const auto thumb =
        PAVHelper::generateThumbForAssetURL(platform::URL::fileURLWithPath(portrait));
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixelWidth(), 120);
    EXPECT_EQ(thumb->pixelHeight(), 160);
}

}  // namespace
}  // namespace pindle::legacy
