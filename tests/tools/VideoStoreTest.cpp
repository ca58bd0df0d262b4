#include "tools/emulator/VideoStore.hpp"

#include <filesystem>
#include <fstream>

#include "BackendTestFixture.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::emulator {
namespace {

using nlohmann::json;
using test::BackendTestFixture;

class VideoStoreTest : public BackendTestFixture {
  protected:
    void SetUp() override {
        folder = pindle::testing::makeScratchFolder("emulator-store-");
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        file = folder / "videos.json";
        BackendTestFixture::SetUp();
    }

    void TearDown() override {
        client.reset();
        emulator.reset();
        std::filesystem::remove_all(folder);
    }

    BackendEmulator::Options storedOptions() {
        auto options = this->options();
        options.storeFile = file;
        return options;
    }

    std::filesystem::path folder;
    std::filesystem::path file;
};

TEST_F(VideoStoreTest, KeepsEveryChangeAcrossARestart) {
    startEmulator(storedOptions());
    const auto since = now.load();
    now += 1000;
    ASSERT_EQ(call("POST", "/v1/videos",
                   json{{"id", "kept"},
                        {"title", "Kept"},
                        {"tags", {"t"}},
                        {"metadata", {{"k", "v"}}},
                        {"lat", 1.5},
                        {"shotOn", "2024-05-01T00:00:00.123Z"}})
                  .status,
              201);
    ASSERT_EQ(call("POST", "/v1/videos", json{{"id", "gone"}, {"tags", {"t"}}}).status, 201);
    ASSERT_EQ(
        call("PUT", "/v1/videos/kept", json{{"mp4", {"360p"}}, {"transcription", "hi"}}).status,
        200);
    ASSERT_EQ(call("DELETE", "/v1/videos/gone", json::object()).status, 204);
    auto before = parse(call("GET", "/v1/videos/kept?"));
    auto syncQuery = "/v1/videos/sync?date=" + escape(BackendDate::format(since));
    auto syncBefore = parse(call("GET", syncQuery));
    EXPECT_FALSE(std::filesystem::exists(folder / "videos.json.tmp"));

    startEmulator(storedOptions());
    EXPECT_EQ(emulator->store().size(), 1u);
    auto after = parse(call("GET", "/v1/videos/kept?"));
    // Media addresses name the new port; everything else is the same.
    for (auto* video : {&before, &after}) {
        video->erase("mp4Url");
        video->erase("thumbUrl");
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(call("GET", "/v1/videos/gone?").status, 404);
    EXPECT_EQ(parse(call("GET", syncQuery)), syncBefore) << "deletions survive for sync";
}

TEST_F(VideoStoreTest, SeedsOnlyAnEmptyStore) {
    auto options = storedOptions();
    options.seed = true;
    options.seedCount = 3;
    startEmulator(options);
    EXPECT_EQ(emulator->store().size(), 3u);
    auto first = parse(call("GET", "/v1/videos?"))[0]["id"].get<std::string>();
    ASSERT_EQ(call("DELETE", "/v1/videos/" + first, json::object()).status, 204);

    startEmulator(options);
    EXPECT_EQ(emulator->store().size(), 2u) << "a stored store is not seeded again";
}

TEST_F(VideoStoreTest, RefusesToStartOnAnUnreadableFile) {
    const std::string contents[] = {"{not json", R"({"version": 99, "videos": []})",
                                    R"({"version": 1, "videos": [{"title": "no id"}]})"};
    for (const auto& text : contents) {
        SCOPED_TRACE(text);
        std::ofstream(file) << text;
        BackendEmulator broken(storedOptions());
        std::string error;
        EXPECT_FALSE(broken.start(&error));
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        std::ifstream in(file);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text)
            << "the file is left alone";
    }
}

TEST_F(VideoStoreTest, ConcurrentWritersLoseNothing) {
    startEmulator(storedOptions());
    constexpr int writers = 4;
    constexpr int videosPerWriter = 10;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            test::TestHttpClient own(emulator->port());
            for (int i = 0; i < videosPerWriter; ++i) {
                auto id = "w" + std::to_string(w) + "-" + std::to_string(i);
                own.request("POST", "/v1/videos",
                            {{"Authorization", std::string("Bearer ") + apiToken}},
                            json{{"id", id}}.dump());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    startEmulator(storedOptions());
    EXPECT_EQ(emulator->store().size(), static_cast<std::size_t>(writers * videosPerWriter));
}

}  // namespace
}  // namespace pindle::emulator
