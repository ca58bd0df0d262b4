#include "PindleCore/uploads/PGoogleDriveHelper.hpp"

#include <gtest/gtest.h>

#include "../api/EmulatorFixture.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "tools/emulator/VideoRecord.hpp"

namespace pindle::legacy {
namespace {

class PGoogleDriveHelperTest : public testing::EmulatorFixture {};

// A key's URL is where the backend's upload descriptions point for that object; a key that
// would name nothing, or something outside the storage, gives none.
TEST_F(PGoogleDriveHelperTest, KeysNameObjectsWhereTheBackendPointsUploads) {
    authorize();
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000160";
    emulator::VideoRecord video;
    video.id = id;
    video.identity = "tester";
    emulator_.store().put(std::move(video));
    testing::Outcome<platform::Value> description;
    PNVideoAPI::shared().uploadingURLs(
        id, true, PNTokenObject::sharedInstance(),
        [&](const platform::Value& result, const std::optional<platform::Error>&) {
            description.set(result);
        });
    const platform::Value* sessionUrl = description.wait().find("sessionUrl");
    ASSERT_TRUE(sessionUrl && sessionUrl->asString());
    const auto url = PGoogleDriveHelper::getGoogleDriveURLByKey(id + "/imported.mp4");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), *sessionUrl->asString());

    const auto escaped = PGoogleDriveHelper::getGoogleDriveURLByKey("a b/c?d#e");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->absoluteString(), emulator_.baseURL() + "/uploads/a%20b/c%3Fd%23e");
    for (const char* key : {"", "/a", "a/", "a//b", "..", "../v1/videos", "a/./b"})
        EXPECT_FALSE(PGoogleDriveHelper::getGoogleDriveURLByKey(key)) << key;
}

}  // namespace
}  // namespace pindle::legacy
