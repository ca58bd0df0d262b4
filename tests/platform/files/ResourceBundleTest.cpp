// Resource bundles by identifier: resources as bytes, as images and as files written once
// into this process's own caches folder (and the folders of ended processes swept away);
// localised strings and their fallbacks; names that must never become paths; and a bundle
// compiled into this executable from a folder, found by identifier from the start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "embedded/test_pindle_embedded.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/ResourceBundle.hpp"
#include "platform/media/Image.hpp"
#include "support/TemporaryHome.hpp"

namespace pindle::platform {
namespace {

namespace fs = std::filesystem;

TEST(ResourceBundleTest, ResourcesAndStringsAreFoundByIdentifier) {
    pindle::testing::TemporaryHome home;
    const ImagePtr red = Image::filled(2, 2, Image::Pixel{255, 0, 0, 255});
    ResourceBundle::registerBundle(
        "test.bundle",
        {{"notes.txt", Data{'h', 'i'}},
         {"dot.png", *red->pngData()},
         {"../escape", Data{'x'}},
         {".hidden", Data{'x'}}},
        {{"Localizable", {{"GREETING", "Hello"}}}, {"Errors", {{"E1", "Broken"}}}});
    EXPECT_EQ(ResourceBundle::withIdentifier("test.missing"), nullptr);
    auto bundle = ResourceBundle::withIdentifier("test.bundle");
    ASSERT_NE(bundle, nullptr);

    EXPECT_EQ(bundle->data("notes", "txt"), (Data{'h', 'i'}));
    EXPECT_FALSE(bundle->data("notes", "md"));
    ASSERT_NE(Image::named("dot", *bundle), nullptr);
    EXPECT_EQ(Image::named("dot", *bundle)->pixelWidth(), 2);
    EXPECT_EQ(Image::named("notes.txt", *bundle), nullptr);

    auto path = bundle->pathForResource("notes", "txt");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, AppContainer::cachesDirectory() + "/bundles/" + std::to_string(::getpid()) +
                         "/test.bundle/notes.txt");
    EXPECT_EQ(fs::file_size(*path), 2u);
    EXPECT_EQ(bundle->pathForResource("notes", "txt"), path);
    EXPECT_FALSE(bundle->pathForResource("../escape", ""));
    EXPECT_FALSE(bundle->pathForResource(".hidden", ""));

    EXPECT_EQ(bundle->localizedString("GREETING", "", ""), "Hello");
    EXPECT_EQ(bundle->localizedString("E1", "", "Errors"), "Broken");
    EXPECT_EQ(bundle->localizedString("E1", "fallback", ""), "fallback");
    EXPECT_EQ(bundle->localizedString("NOPE", "", ""), "NOPE");
}

// Other processes' folders: one ended (its lock is free), one alive (this test holds its lock
// through a descriptor of its own), and a name no process gives its folder.
TEST(ResourceBundleTest, FilesAreWrittenIntoAFolderOfThisProcessOnlyAndWrittenAgainWhenGone) {
    pindle::testing::TemporaryHome home;
    const fs::path bundles = fs::path(AppContainer::cachesDirectory()) / "bundles";
    const fs::path ended = bundles / "999999991";
    const fs::path alive = bundles / "999999992";
    const fs::path other = bundles / "shared-by-hand";
    for (const auto& folder : {ended, alive, other}) {
        fs::create_directories(folder);
        std::ofstream(folder / "left.txt") << "x";
    }
    const int aliveLock = ::open(alive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(aliveLock, 0);
    ASSERT_EQ(::flock(aliveLock, LOCK_EX | LOCK_NB), 0);

    auto bundle = ResourceBundle::registerBundle("test.folders", {{"a.txt", Data{'a'}}});
    auto path = bundle->pathForResource("a", "txt");
    ASSERT_TRUE(path);
    const fs::path mine = bundles / std::to_string(::getpid());
    EXPECT_EQ(fs::path(*path), mine / "test.folders" / "a.txt");
    EXPECT_FALSE(fs::exists(ended));
    EXPECT_TRUE(fs::exists(alive / "left.txt"));
    EXPECT_TRUE(fs::exists(other / "left.txt"));
    ::close(aliveLock);

    // A file or the whole folder taken away is written again, at the same place.
    fs::remove(*path);
    EXPECT_EQ(bundle->pathForResource("a", "txt"), path);
    EXPECT_TRUE(fs::exists(*path));
    fs::remove_all(mine);
    EXPECT_EQ(bundle->pathForResource("a", "txt"), path);
    EXPECT_EQ(fs::file_size(*path), 1u);
}

TEST(ResourceBundleTest, AFolderCompiledInIsABundleFromTheStart) {
    // Registered while the executable loaded, before any call made it.
    auto bundle = ResourceBundle::withIdentifier("test.pindle.embedded");
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(embedded::test_pindle_embedded(), bundle);

    EXPECT_EQ(bundle->data("notes", "txt"), (Data{'h', 'i', '\n'}));
    EXPECT_EQ(bundle->data("empty", "txt"), Data{});
    auto dot = Image::named("dot", *bundle);
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(dot->pixelAt(1, 1), (Image::Pixel{255, 0, 0, 255}));

    EXPECT_EQ(bundle->localizedString("GREETING", "", ""), "Hello, \"world\"");
    EXPECT_EQ(bundle->localizedString("SNOWMAN", "", "Localizable"), "\xE2\x98\x83");
    // A strings file that does not read gives no table, but stays a resource.
    EXPECT_EQ(bundle->localizedString("OPEN", "", "Broken"), "OPEN");
    EXPECT_TRUE(bundle->data("Broken", "strings"));
}

}  // namespace
}  // namespace pindle::platform
