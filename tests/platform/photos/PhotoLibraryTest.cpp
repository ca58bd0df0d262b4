// The photo library in a folder: scripted authorisation, change requests that copy media in,
// an index that survives a restart, fetches by type and by reference URL, and the image
// manager's answer for plain and edited videos.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/media/Composition.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/photos/ImageManager.hpp"
#include "platform/photos/PhotoLibrary.hpp"
#include "support/MediaFixtures.hpp"
#include "support/TemporaryHome.hpp"

namespace pindle::platform {
namespace {

using Status = PhotoLibrary::AuthorizationStatus;

class PhotoLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library.setRoot(home.path() + "/Library");
        library.reset();
        clip = home.path() + "/clip.mp4";
        ASSERT_TRUE(testing::writeClip(clip, {.seconds = 0.5}).ok());
    }
    void TearDown() override { library.reset(); }

    // Adds `path` as a video and waits for the answer.
    std::pair<bool, std::optional<Error>> addVideo(const std::string& path,
                                                   bool composition = false) {
        auto done = std::make_shared<DispatchSemaphore>(0);
        std::pair<bool, std::optional<Error>> answer;
        library.performChanges(
            [&] {
                AssetChangeRequest::creationRequestForAssetFromVideo(URL::fileURLWithPath(path))
                    ->isComposition = composition;
            },
            [&, done](bool success, std::optional<Error> error) {
                answer = {success, std::move(error)};
                done->signal();
            });
        EXPECT_TRUE(done->wait(DispatchTime::after(30)));
        return answer;
    }

    pindle::testing::TemporaryHome home;
    PhotoLibrary& library = PhotoLibrary::shared();
    std::string clip;
};

TEST_F(PhotoLibraryTest, AuthorisationIsAskedOnceAndAnsweredOffTheCallingThread) {
    EXPECT_EQ(library.authorizationStatus(), Status::notDetermined);
    library.setAnswerToNextRequest(Status::denied);
    auto done = std::make_shared<DispatchSemaphore>(0);
    Status answer = Status::notDetermined;
    std::thread::id answeredOn;
    library.requestAuthorization([&, done](Status status) {
        answer = status;
        answeredOn = std::this_thread::get_id();
        done->signal();
    });
    ASSERT_TRUE(done->wait(DispatchTime::after(10)));
    EXPECT_EQ(answer, Status::denied);
    EXPECT_NE(answeredOn, std::this_thread::get_id());
    EXPECT_EQ(library.authorizationStatus(), Status::denied);

    // A decided status is not asked again.
    library.setAnswerToNextRequest(Status::authorized);
    library.requestAuthorization([&, done](Status status) {
        answer = status;
        done->signal();
    });
    ASSERT_TRUE(done->wait(DispatchTime::after(10)));
    EXPECT_EQ(answer, Status::denied);
}

TEST_F(PhotoLibraryTest, AVideoIsCopiedInAndTheIndexSurvivesARestart) {
    library.setAuthorizationStatus(Status::authorized);
    auto [success, error] = addVideo(clip);
    ASSERT_TRUE(success) << (error ? error->description() : "");
    auto videos = PhotoAsset::fetchAssets(PhotoAsset::MediaType::video);
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_NE(videos[0]->path(), clip);
    EXPECT_EQ(std::filesystem::file_size(videos[0]->path()), std::filesystem::file_size(clip));
    EXPECT_TRUE(PhotoAsset::fetchAssets(PhotoAsset::MediaType::image).empty());

    library.setRoot(library.root());  // read the index afresh, as a new process would
    auto found = PhotoAsset::fetchAssetsWithALAssetURLs({videos[0]->referenceURL()});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->localIdentifier(), videos[0]->localIdentifier());
    EXPECT_EQ(videos[0]->referenceURL().absoluteString(),
              "assets-library://asset/asset.MP4?id=" + videos[0]->localIdentifier() + "&ext=MP4");
}

// Another process that shares the folder adds a movie after this one read the index: this
// one's next change keeps it.
TEST_F(PhotoLibraryTest, AMovieAnotherProcessAddedIsKeptByTheNextChange) {
    library.setAuthorizationStatus(Status::authorized);
    ASSERT_TRUE(addVideo(clip).first);
    const std::string index = library.root() + "/index.json";
    const auto& files = FileManager::defaultManager();
    auto document = Json::parse(*files.contentsOfFile(index));
    ASSERT_TRUE(document && document->asDictionary());
    Dictionary top = *document->asDictionary();
    Array assets = *top["assets"].asArray();
    ASSERT_EQ(assets.size(), 1u);
    Dictionary theirs = *assets[0].asDictionary();
    theirs["localIdentifier"] = std::string("0A1B2C3D-0000-4000-8000-000000000001");
    theirs["file"] = std::string("0A1B2C3D-0000-4000-8000-000000000001.mp4");
    std::filesystem::copy_file(clip, library.root() + "/" + *theirs["file"].asString());
    assets.push_back(theirs);
    top["assets"] = assets;
    ASSERT_TRUE(files.writeAtomically(index, *Json::serializeToData(top)).ok());

    ASSERT_TRUE(addVideo(clip).first);
    EXPECT_EQ(library.assets(PhotoAsset::MediaType::video).size(), 3u);
    EXPECT_TRUE(library.assetWithLocalIdentifier("0A1B2C3D-0000-4000-8000-000000000001"));
    library.setRoot(library.root());  // as the next process reads it
    EXPECT_EQ(library.assets(PhotoAsset::MediaType::video).size(), 3u);
}

TEST_F(PhotoLibraryTest, NonMediaAndMissingAccessAreRefusedAndLeaveNothing) {
    library.setAuthorizationStatus(Status::authorized);
    const std::string text = home.path() + "/notes.mp4";
    std::ofstream(text) << "hello";
    auto [success, error] = addVideo(text);
    EXPECT_FALSE(success);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), PhotoLibrary::invalidResource);

    library.setAuthorizationStatus(Status::denied);
    auto denied = addVideo(clip);
    EXPECT_FALSE(denied.first);
    ASSERT_TRUE(denied.second);
    EXPECT_EQ(denied.second->code(), PhotoLibrary::accessDenied);
    EXPECT_TRUE(library.assets().empty());
}

TEST_F(PhotoLibraryTest, TheImageManagerAnswersAFileAssetOrAComposition) {
    library.setAuthorizationStatus(Status::authorized);
    ASSERT_TRUE(addVideo(clip).first);
    ASSERT_TRUE(addVideo(clip, true).first);
    auto videos = library.assets(PhotoAsset::MediaType::video);
    ASSERT_EQ(videos.size(), 2u);
    for (const auto& video : videos) {
        auto done = std::make_shared<DispatchSemaphore>(0);
        AssetPtr answer;
        ImageManager::defaultManager().requestAVAssetForVideo(
            video, ImageManager::VideoVersion::original, [&, done](AssetPtr asset) {
                answer = std::move(asset);
                done->signal();
            });
        ASSERT_TRUE(done->wait(DispatchTime::after(10)));
        if (video->isComposition()) {
            EXPECT_TRUE(std::dynamic_pointer_cast<Composition>(answer));
        } else {
            auto file = std::dynamic_pointer_cast<URLAsset>(answer);
            ASSERT_TRUE(file);
            EXPECT_EQ(file->url().path(), video->path());
            EXPECT_FALSE(file->tracks().empty());
        }
    }
}

}  // namespace
}  // namespace pindle::platform
