#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "PindleCore/playlists/PNPendingChangesParser.hpp"
#include "PindleCore/playlists/PNVideoSyncServiceStorage.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle {
namespace {

using platform::StringDictionary;
using platform::StringSet;

PNPendingChange metadata(const std::string& id, StringDictionary value) {
    return PNPendingChange(id, "PNVideo", "metadata", platform::Value(value));
}

PNPendingChange tags(const std::string& id, StringSet value) {
    return PNPendingChange(id, "PNVideo", "tags", platform::Value(std::move(value)));
}

class PNVideoSyncServiceStorageTest : public ::testing::Test {
  protected:
    std::string fileText() const {
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void writeFile(const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        std::ofstream(path_) << text;
    }

    testing::TemporaryHome home_;
    std::string path_ = PNVideoSyncServiceStorage::defaultFileURL();
    PNVideoSyncServiceStorage storage_{path_};
};

TEST_F(PNVideoSyncServiceStorageTest, TheFileLivesInTheLibraryAndIsMadeByTheFirstChange) {
    EXPECT_EQ(path_, home_.path() + "/Library/p.sdk/syncservice");
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_TRUE(storage_.pending().empty());

    EXPECT_TRUE(storage_.add(metadata("v1", {{"k", "v"}})));
    EXPECT_EQ(nlohmann::json::parse(fileText()),
              nlohmann::json::parse(R"({"data":{"changes":[{"entityID":"v1","className":"PNVideo",
                                       "key":"metadata","value":{"k":"v"}}]}})"));
}

TEST_F(PNVideoSyncServiceStorageTest, AnEditReplacesTheOlderOneOfTheSamePropertyAtTheEnd) {
    storage_.add(metadata("v1", {{"k", "1"}}));
    storage_.add(tags("v1", {"t"}));
    storage_.add(metadata("v2", {{"k", "2"}}));
    storage_.add(metadata("v1", {{"k", "3"}}));

    EXPECT_EQ(storage_.pending(), (std::vector<PNPendingChange>{
                                      tags("v1", {"t"}),
                                      metadata("v2", {{"k", "2"}}),
                                      metadata("v1", {{"k", "3"}}),
                                  }));
    // Another class is another record, even with the same identifier.
    storage_.add(PNPendingChange("v1", "Other", "metadata", platform::Value(StringDictionary{})));
    EXPECT_EQ(storage_.pending().size(), 4u);
}

TEST_F(PNVideoSyncServiceStorageTest, RemovalMatchesTheValueToo) {
    storage_.add(metadata("v1", {{"k", "new"}}));
    storage_.add(metadata("v2", {{"k", "2"}}));
    const std::string before = fileText();

    // The value that was sent is no longer the pending one: the newer edit stays.
    EXPECT_TRUE(storage_.remove(metadata("v1", {{"k", "old"}})));
    EXPECT_EQ(storage_.pending().size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(fileText()), nlohmann::json::parse(before));

    storage_.remove(metadata("v1", {{"k", "new"}}));
    storage_.remove(metadata("v2", {{"k", "2"}}));
    EXPECT_TRUE(storage_.pending().empty());
    EXPECT_EQ(nlohmann::json::parse(fileText()),
              nlohmann::json::parse(R"({"data":{"changes":[]}})"));

    storage_.flushStorage();
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(PNVideoSyncServiceStorageTest, TagsTravelAsAnArrayAndComeBackAsASet) {
    storage_.add(tags("v1", {"b", "a"}));
    auto written = nlohmann::json::parse(fileText());
    auto value = written["data"]["changes"][0]["value"];
    ASSERT_TRUE(value.is_array());
    EXPECT_EQ(value.get<std::set<std::string>>(), (std::set<std::string>{"a", "b"}));

    auto read = storage_.pending();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0], tags("v1", {"a", "b"}));
    EXPECT_TRUE(read[0].value().isStringSet());
}

TEST_F(PNVideoSyncServiceStorageTest, TheListSurvivesARestart) {
    storage_.add(metadata("v1", {{"k", "1"}}));
    storage_.add(tags("v2", {"t"}));

    PNVideoSyncServiceStorage afterRestart(PNVideoSyncServiceStorage::defaultFileURL());
    EXPECT_EQ(afterRestart.pending(),
              (std::vector<PNPendingChange>{metadata("v1", {{"k", "1"}}), tags("v2", {"t"})}));
    afterRestart.add(metadata("v1", {{"k", "2"}}));
    EXPECT_EQ(storage_.pending().back(), metadata("v1", {{"k", "2"}}));
}

TEST_F(PNVideoSyncServiceStorageTest, DamagedFilesHoldNoChangesOrOnlyTheirSoundEntries) {
    const std::string sound =
        R"({"entityID":"v1","className":"PNVideo","key":"metadata","value":{"k":"v"}})";
    struct Case {
        const char* name;
        std::string text;
        std::size_t expected;
    };
    const std::vector<Case> cases = {
        {"not JSON", "{\"data\":", 0},
        {"an array", "[" + sound + "]", 0},
        {"no data", "{}", 0},
        {"empty data", R"({"data":{}})", 0},
        {"changes not an array", R"({"data":{"changes":{}}})", 0},
        {"entries without a member",
         R"({"data":{"changes":[{"entityID":"v2","className":"PNVideo",
             "key":"metadata"}, )" +
             sound + "]}}",
         1},
        {"entries of the wrong shape",
         R"({"data":{"changes":[7, {"entityID":5,"className":"PNVideo","key":"metadata",
             "value":{}}, {"entityID":"v3","className":"PNVideo","key":"tags","value":[1]}, )" +
             sound + "]}}",
         1},
    };
    for (const auto& c : cases) {
        writeFile(c.text);
        auto pending = storage_.pending();
        EXPECT_EQ(pending.size(), c.expected) << c.name;
        if (c.expected == 1) {
            EXPECT_EQ(pending[0], metadata("v1", {{"k", "v"}})) << c.name;
        }
    }

    // A file that holds nothing usable is replaced by the next change.
    writeFile("not json");
    storage_.add(tags("v9", {"t"}));
    EXPECT_EQ(storage_.pending(), (std::vector<PNPendingChange>{tags("v9", {"t"})}));
}

TEST_F(PNVideoSyncServiceStorageTest, AFailedWriteIsReportedAndKeepsTheFormerList) {
    storage_.add(metadata("v1", {{"k", "1"}}));
    const std::string before = fileText();

    platform::FileManager::Options failing;
    failing.beforeAtomicRename = [](const std::string&) -> platform::Status {
        return platform::Error("NSCocoaErrorDomain", 640, {});
    };
    PNVideoSyncServiceStorage full(path_, failing);
    EXPECT_FALSE(full.add(metadata("v2", {{"k", "2"}})));
    EXPECT_FALSE(full.remove(metadata("v1", {{"k", "1"}})));
    EXPECT_EQ(fileText(), before);
    EXPECT_EQ(full.pending(), (std::vector<PNPendingChange>{metadata("v1", {{"k", "1"}})}));
}

TEST(PNPendingChangeTest, EqualityComparesTheWholeValueByItsShape) {
    using platform::Value;
    struct Case {
        const char* name;
        PNPendingChange left;
        PNPendingChange right;
        bool equal;
        bool sameProperty;
    };
    const std::vector<Case> cases = {
        {"same tags", tags("v", {"a", "b"}), tags("v", {"b", "a"}), true, true},
        {"other tags", tags("v", {"a"}), tags("v", {"b"}), false, true},
        {"same metadata", metadata("v", {{"k", "v"}}), metadata("v", {{"k", "v"}}), true, true},
        {"other metadata", metadata("v", {{"k", "v"}}), metadata("v", {{"k", "w"}}), false, true},
        {"other record", metadata("v", {}), metadata("w", {}), false, false},
        {"other class", metadata("v", {}),
         PNPendingChange("v", "X", "metadata", Value(StringDictionary{})), false, false},
        {"tags against an equal map", PNPendingChange("v", "PNVideo", "k", Value(StringSet{})),
         PNPendingChange("v", "PNVideo", "k", Value(StringDictionary{})), false, true},
        // Values of other shapes still equal themselves, so such a change can be removed.
        {"same number", PNPendingChange("v", "PNVideo", "k", Value(5)),
         PNPendingChange("v", "PNVideo", "k", Value(5)), true, true},
        {"other number", PNPendingChange("v", "PNVideo", "k", Value(5)),
         PNPendingChange("v", "PNVideo", "k", Value(6)), false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.left == c.right, c.equal) << c.name;
        EXPECT_EQ(BelongsToSameEntityAndValue(c.left, c.right), c.sameProperty) << c.name;
    }
}

TEST(PNPendingChangesParserTest, AValueThatCannotBeWrittenEncodesToNothing) {
    const auto& parser = PNPendingChangesParser::shared();
    EXPECT_TRUE(parser.encode({}));
    EXPECT_FALSE(parser.encode({PNPendingChange("v", "PNVideo", "k", platform::Value(0.0 / 0.0))}));
}

}  // namespace
}  // namespace pindle
