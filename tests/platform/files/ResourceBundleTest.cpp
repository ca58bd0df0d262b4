// Resource bundles by identifier: resources as bytes, as images and as files written once
// into the caches folder; localised strings and their fallbacks; names that must never
// become paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files/AppContainer.hpp"
#include "platform/files/ResourceBundle.hpp"
#include "support/TemporaryHome.hpp"

namespace pindle::platform {
namespace {

TEST(ResourceBundleTest, ResourcesAndStringsAreFoundByIdentifier) {
    pindle::testing::TemporaryHome home;
    const ImagePtr red = Image::filled(2, 2, Image::Pixel{255, 0, 0, 255});
    ResourceBundle::registerBundle(
        "test.bundle",
        {{"notes.txt", Data{'h', 'i'}}, {"dot.png", *red->pngData()}, {"../escape", Data{'x'}}},
        {{"Localizable", {{"GREETING", "Hello"}}}, {"Errors", {{"E1", "Broken"}}}});
    EXPECT_EQ(ResourceBundle::withIdentifier("test.missing"), nullptr);
    auto bundle = ResourceBundle::withIdentifier("test.bundle");
    ASSERT_NE(bundle, nullptr);

    EXPECT_EQ(bundle->data("notes", "txt"), (Data{'h', 'i'}));
    EXPECT_FALSE(bundle->data("notes", "md"));
    ASSERT_NE(bundle->imageNamed("dot"), nullptr);
    EXPECT_EQ(bundle->imageNamed("dot")->pixelWidth(), 2);
    EXPECT_EQ(bundle->imageNamed("notes.txt"), nullptr);

    auto path = bundle->pathForResource("notes", "txt");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, AppContainer::cachesDirectory() + "/bundles/test.bundle/notes.txt");
    EXPECT_EQ(std::filesystem::file_size(*path), 2u);
    EXPECT_EQ(bundle->pathForResource("notes", "txt"), path);
    EXPECT_FALSE(bundle->pathForResource("../escape", ""));

    EXPECT_EQ(bundle->localizedString("GREETING", "", ""), "Hello");
    EXPECT_EQ(bundle->localizedString("E1", "", "Errors"), "Broken");
    EXPECT_EQ(bundle->localizedString("E1", "fallback", ""), "fallback");
    EXPECT_EQ(bundle->localizedString("NOPE", "", ""), "NOPE");
}

}  // namespace
}  // namespace pindle::platform
