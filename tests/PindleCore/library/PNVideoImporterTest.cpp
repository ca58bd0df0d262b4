// The video importer: an MP4 becomes a QuickTime movie beside it with the same codecs, and
// the library gains it; access is asked for once; nothing is written over.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "PindleCore/library/PNVideoImporter.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/photos/PhotoLibrary.hpp"
#include "support/MediaFixtures.hpp"
#include "support/MediaSummary.hpp"
#include "support/TemporaryHome.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/support/Gate.hpp"

namespace pindle {
namespace {

using platform::PhotoLibrary;
using Status = PhotoLibrary::AuthorizationStatus;

class PNVideoImporterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library.setRoot(home.path() + "/Library");
        library.reset();
        mp4 = home.path() + "/clip.mp4";
        ASSERT_TRUE(platform::testing::writeClip(mp4, {.seconds = 0.5, .toneHz = 300}).ok());
    }
    void TearDown() override { library.reset(); }

    std::pair<bool, std::optional<platform::Error>> import(const std::string& path) {
        auto done = std::make_shared<platform::DispatchSemaphore>(0);
        auto answer = std::make_shared<std::pair<bool, std::optional<platform::Error>>>();
        importer.putToCameraRoll(
            platform::URL::fileURLWithPath(path),
            [done, answer](bool success, std::optional<platform::Error> error) {
                *answer = {success, std::move(error)};
                done->signal();
            });
        EXPECT_TRUE(done->wait(platform::DispatchTime::after(30)));
        return *answer;
    }

    testing::TemporaryHome home;
    PhotoLibrary& library = PhotoLibrary::shared();
    PNVideoImporter importer;
    std::string mp4;
};

TEST_F(PNVideoImporterTest, AnAllowingFirstAnswerSavesAMovBesideTheSourceWithTheSameCodecs) {
    library.setAnswerToNextRequest(Status::authorized);
    auto [success, error] = import(mp4);
    ASSERT_TRUE(success) << (error ? error->description() : "");
    const std::string mov = home.path() + "/clip.mov";
    auto in = platform::testing::MediaSummary::read(mp4);
    auto out = platform::testing::MediaSummary::read(mov);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->videoCodec, in->videoCodec);
    EXPECT_EQ(out->audioCodec, in->audioCodec);
    ASSERT_EQ(library.assets(platform::PhotoAsset::MediaType::video).size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(mov));  // the converted file stays
}

TEST_F(PNVideoImporterTest, RefusedOrDeniedAccessGivesFalseWithoutAnErrorAndWritesNothing) {
    for (Status answer : {Status::denied, Status::restricted}) {
        library.reset();
        library.setAnswerToNextRequest(answer);
        auto [success, error] = import(mp4);
        EXPECT_FALSE(success);
        EXPECT_FALSE(error);
        // Already decided: not asked again, same answer.
        EXPECT_FALSE(import(mp4).first);
    }
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/clip.mov"));
    EXPECT_TRUE(library.assets().empty());
}

TEST_F(PNVideoImporterTest, AMovSourceOrAnExistingTargetFailsWithAnErrorAndIsKept) {
    library.setAuthorizationStatus(Status::authorized);
    const std::string mov = home.path() + "/own.mov";
    std::filesystem::copy_file(mp4, mov);
    const auto size = std::filesystem::file_size(mov);
    auto [success, error] = import(mov);
    EXPECT_FALSE(success);
    EXPECT_TRUE(error);
    EXPECT_EQ(std::filesystem::file_size(mov), size);

    std::ofstream(home.path() + "/clip.mov") << "someone else's";
    EXPECT_FALSE(import(mp4).first);
    EXPECT_TRUE(library.assets().empty());
}

// The host lets go of the importer while access is being asked for. A shared importer is kept
// until the answer is in and saves the video; one that is not shared is never used once gone
// (ASan would see it), and its completion still comes once, saved or (false, nothing).
TEST_F(PNVideoImporterTest, AnImporterLetGoOfBeforeTheAnswerIsNeitherUsedAfterFreeNorSilent) {
    const auto importOnce = [&](std::function<void(PNVideoImporter::Completion)> start) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto done = std::make_shared<platform::DispatchSemaphore>(0);
        auto answer = std::make_shared<std::pair<bool, std::optional<platform::Error>>>();
        start([calls, done, answer](bool success, std::optional<platform::Error> error) {
            *answer = {success, std::move(error)};
            ++*calls;
            done->signal();
        });
        EXPECT_TRUE(done->wait(platform::DispatchTime::after(30)));
        EXPECT_EQ(calls->load(), 1);
        return *answer;
    };

    library.setAnswerToNextRequest(Status::authorized);
    auto shared = std::make_shared<PNVideoImporter>();
    std::weak_ptr<PNVideoImporter> released = shared;
    const auto [saved, error] = importOnce([&](PNVideoImporter::Completion completion) {
        shared->putToCameraRoll(platform::URL::fileURLWithPath(mp4), std::move(completion));
        shared.reset();
    });
    EXPECT_TRUE(saved) << (error ? error->description() : "");
    EXPECT_EQ(library.assets(platform::PhotoAsset::MediaType::video).size(), 1u);
    EXPECT_TRUE(platform::testing::eventually([&] { return released.expired(); }));

    library.reset();
    library.setAnswerToNextRequest(Status::authorized);
    const std::string second = home.path() + "/second.mp4";
    std::filesystem::copy_file(mp4, second);
    const auto [either, failure] = importOnce([&](PNVideoImporter::Completion completion) {
        auto owned = std::make_unique<PNVideoImporter>();
        owned->putToCameraRoll(platform::URL::fileURLWithPath(second), std::move(completion));
    });
    EXPECT_TRUE(either || !failure) << "a dropped answer is (false, nothing)";
}

// Two imports of one clip at once: one makes the movie and saves it, the other fails with an
// error and leaves that movie whole, not one interleaved from both.
TEST_F(PNVideoImporterTest, TwoImportsOfOneClipAtOnceMakeOneWholeMovie) {
    library.setAuthorizationStatus(Status::authorized);
    struct Answer {
        bool success = false;
        std::optional<platform::Error> error;
    };
    auto answers = std::make_shared<std::vector<Answer>>(2);
    auto done = std::make_shared<platform::DispatchSemaphore>(0);
    for (int i = 0; i < 2; ++i) {
        importer.putToCameraRoll(
            platform::URL::fileURLWithPath(mp4),
            [answers, done, i](bool success, std::optional<platform::Error> error) {
                (*answers)[i] = {success, std::move(error)};
                done->signal();
            });
    }
    ASSERT_TRUE(done->wait(platform::DispatchTime::after(30)));
    ASSERT_TRUE(done->wait(platform::DispatchTime::after(30)));
    const auto saved = std::count_if(answers->begin(), answers->end(),
                                     [](const Answer& answer) { return answer.success; });
    EXPECT_EQ(saved, 1);
    for (const auto& answer : *answers)
        EXPECT_TRUE(answer.success || answer.error) << "a failure says why";
    const auto in = platform::testing::MediaSummary::read(mp4);
    const auto out = platform::testing::MediaSummary::read(home.path() + "/clip.mov");
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->videoCodec, in->videoCodec);
    EXPECT_NEAR(out->duration, in->duration, 0.05);
    EXPECT_EQ(library.assets(platform::PhotoAsset::MediaType::video).size(), 1u);
}

// An importer that is not shared, destroyed on another thread while the authorisation answer
// is using it: its destruction waits for that use to end, so the step never runs on a freed
// importer (ASan would see it), and the call still answers once.
struct ImportGates {
    pindle::testing::Gate entered, release, destroyed;
};

class HeldImporter : public PNVideoImporter {
  public:
    explicit HeldImporter(std::shared_ptr<ImportGates> gates) : gates_(std::move(gates)) {}
    ~HeldImporter() override {
        EXPECT_TRUE(gates_->release.open());
        detachFromPendingAnswers();
    }
    void putToCameraRollInternal(const platform::URL& mp4, Completion completion) override {
        const auto gates = gates_;
        EXPECT_TRUE(gates->entered.open());
        gates->release.wait();
        // A destruction that did not wait for this use would be over by now (it says so), and
        // the lines below would touch freed memory; one that waits cannot say so.
        gates->destroyed.wait(std::chrono::milliseconds(200));
        ++steps_;
        PNVideoImporter::putToCameraRollInternal(mp4, std::move(completion));
    }

  private:
    const std::shared_ptr<ImportGates> gates_;
    int steps_ = 0;
};

TEST_F(PNVideoImporterTest, AnImporterDestroyedWhileTheAnswerUsesItIsWaitedFor) {
    library.setAnswerToNextRequest(Status::authorized);
    auto gates = std::make_shared<ImportGates>();
    auto held = std::make_unique<HeldImporter>(gates);
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<platform::DispatchSemaphore>(0);
    auto saved = std::make_shared<std::atomic<bool>>(false);
    held->putToCameraRoll(platform::URL::fileURLWithPath(mp4),
                          [calls, done, saved](bool success, std::optional<platform::Error>) {
                              *saved = success;
                              ++*calls;
                              done->signal();
                          });
    ASSERT_TRUE(gates->entered.wait());
    std::thread destroyer([&] {
        held.reset();
        static_cast<void>(gates->destroyed.open());
    });
    const bool answered = done->wait(platform::DispatchTime::after(30));
    destroyer.join();
    ASSERT_TRUE(answered);
    EXPECT_TRUE(*saved);
    EXPECT_EQ(calls->load(), 1);
}

}  // namespace
}  // namespace pindle
