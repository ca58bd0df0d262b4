// Passthrough export: the streams are copied into a QuickTime movie unchanged, and nothing
// that exists is ever written over.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/media/AssetExportSession.hpp"
#include "platform/media/Composition.hpp"
#include "support/MediaFixtures.hpp"
#include "support/MediaSummary.hpp"
#include "support/TemporaryHome.hpp"

namespace pindle::platform {
namespace {

class AssetExportSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source = home.path() + "/clip.mp4";
        ASSERT_TRUE(testing::writeClip(source, {.seconds = 1, .toneHz = 440}).ok());
    }

    // Runs the export to `target` and waits for it.
    AssetExportSessionPtr exportTo(const std::string& from, const std::string& target) {
        auto session = AssetExportSession::make(URLAsset::make(URL::fileURLWithPath(from)),
                                                AssetExportSession::presetPassthrough);
        EXPECT_TRUE(session);
        session->setOutputURL(URL::fileURLWithPath(target));
        session->setOutputFileType(AssetExportSession::fileTypeQuickTimeMovie);
        auto done = std::make_shared<DispatchSemaphore>(0);
        session->exportAsynchronously([done] { done->signal(); });
        EXPECT_TRUE(done->wait(DispatchTime::after(30)));
        return session;
    }

    static std::string bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    pindle::testing::TemporaryHome home;
    std::string source;
};

TEST_F(AssetExportSessionTest, PassthroughKeepsCodecsAndDurationInAQuickTimeMovie) {
    const std::string target = home.path() + "/clip.mov";
    auto session = exportTo(source, target);
    ASSERT_EQ(session->status(), AssetExportSession::Status::completed);
    EXPECT_FALSE(session->error());

    auto in = testing::MediaSummary::read(source);
    auto out = testing::MediaSummary::read(target);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->videoCodec, in->videoCodec);
    EXPECT_EQ(out->audioCodec, in->audioCodec);
    EXPECT_NEAR(out->duration, in->duration, 0.05);
    EXPECT_EQ(out->naturalSize, in->naturalSize);
    EXPECT_EQ(bytesOf(target).substr(4, 4), "ftyp");
}

TEST_F(AssetExportSessionTest, AnExistingTargetOrTheSourceItselfIsNeverWrittenOver) {
    const std::string before = bytesOf(source);
    // A source already named as its own target.
    auto self = exportTo(source, source);
    EXPECT_EQ(self->status(), AssetExportSession::Status::failed);
    ASSERT_TRUE(self->error());
    EXPECT_EQ(self->error()->code(), MediaError::fileAlreadyExists);
    EXPECT_EQ(bytesOf(source), before);

    const std::string other = home.path() + "/other.mov";
    std::ofstream(other) << "keep me";
    EXPECT_EQ(exportTo(source, other)->status(), AssetExportSession::Status::failed);
    EXPECT_EQ(bytesOf(other), "keep me");
}

TEST_F(AssetExportSessionTest, OnlyThePassthroughPresetOfAFileAssetMakesASession) {
    auto asset = URLAsset::make(URL::fileURLWithPath(source));
    EXPECT_EQ(AssetExportSession::make(asset, "AVAssetExportPresetHighestQuality"), nullptr);
    EXPECT_EQ(AssetExportSession::make(Composition::make(), AssetExportSession::presetPassthrough),
              nullptr);
}

TEST_F(AssetExportSessionTest, AFailedExportLeavesNoPartialFile) {
    const std::string garbage = home.path() + "/garbage.mp4";
    std::ofstream(garbage) << "not a movie at all";
    const std::string target = home.path() + "/garbage.mov";
    auto session = exportTo(garbage, target);
    EXPECT_EQ(session->status(), AssetExportSession::Status::failed);
    EXPECT_TRUE(session->error());
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace pindle::platform
