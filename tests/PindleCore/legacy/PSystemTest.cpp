#include "PindleCore/legacy/PSystem.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <future>

#include "PindleCore/legacy/PInternalStateHost.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/Bundle.hpp"
#include "platform/files/UserDefaults.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::legacy {
namespace {

class PSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedHome_ = platform::AppContainer::home();
        home_ = pindle::testing::makeScratchFolder("psystem-");
        platform::AppContainer::setHome(home_.string());
        platform::Bundle::setInfoDictionary({});
        // The registered device token lives in the process, not in the home.
        PSystem::resetCurrentState(token());
    }
    void TearDown() override {
        platform::AppContainer::setHome(savedHome_);
        platform::Bundle::setInfoDictionary({});
        std::filesystem::remove_all(home_);
    }

    const std::shared_ptr<PNTokenObject>& token() { return PNTokenObject::sharedInstance(); }

    std::string savedHome_;
    std::filesystem::path home_;
};

TEST_F(PSystemTest, GuardedOperationsActOnlyForTheToken) {
    auto stranger = std::make_shared<platform::Object>();
    PSystem::setAppID("stored-app", token());
    EXPECT_EQ(PSystem::appID(token()), "stored-app");
    EXPECT_EQ(PSystem::appID(stranger), std::nullopt);
    EXPECT_EQ(PSystem::appID(nullptr), std::nullopt);
    PSystem::setAppID("other", stranger);
    EXPECT_EQ(PSystem::appID(token()), "stored-app");

    PSystem::registerAPNTokenString("tok", stranger);
    EXPECT_EQ(PSystem::registeredToken(), std::nullopt);
    PSystem::registerAPNTokenString("tok", token());
    EXPECT_EQ(PSystem::registeredToken(), "tok");
    PSystem::resetCurrentState(stranger);
    EXPECT_EQ(PSystem::registeredToken(), "tok");
    PSystem::resetCurrentState(token());
    EXPECT_EQ(PSystem::registeredToken(), std::nullopt);
    // The reset leaves stored values alone.
    EXPECT_EQ(PSystem::appID(token()), "stored-app");
}

TEST_F(PSystemTest, ApplicationIdentifierFallsBackToTheBundleAndPersists) {
    EXPECT_EQ(PSystem::appID(token()), std::nullopt);
    platform::Bundle::setInfoDictionary({{"P App ID", "from-plist"}});
    EXPECT_EQ(PSystem::appID(token()), "from-plist");
    PSystem::setAppID("stored", token());
    EXPECT_EQ(PSystem::appID(token()), "stored");
    EXPECT_EQ(PInternalStateHost::getInstance().appIDFromPlist(), "from-plist");

    // Another reader of the same file sees the stored identifier: it survives a relaunch.
    platform::UserDefaults reread(platform::UserDefaults::standard().path());
    EXPECT_EQ(reread.stringForKey("P App ID"), "stored");

    PSystem::setAppID(std::nullopt, token());
    EXPECT_EQ(PSystem::appID(token()), "from-plist");
}

TEST_F(PSystemTest, DeviceTokenBytesBecomeHexadecimalText) {
    PSystem::registerAPNToken({0xa1, 0xb2, 0xc3, 0xd4});
    EXPECT_EQ(PSystem::registeredToken(), "a1b2c3d4");
}

TEST_F(PSystemTest, PreferencesAnswerTheTokenOnly) {
    PPreferences preferences;
    auto stranger = std::make_shared<platform::Object>();
    EXPECT_EQ(preferences.localStorageSizeB(token()), 209715200);
    EXPECT_TRUE(preferences.cacheVideo(token()));
    EXPECT_EQ(preferences.localStorageSizeB(stranger), std::nullopt);
    EXPECT_FALSE(preferences.cacheVideo(stranger));
    EXPECT_EQ(preferences.cacheVideoDirectoryPath(token()),
              platform::AppContainer::documentsDirectory() + "/psdk");

    preferences.setCacheVideo(false, stranger);
    EXPECT_TRUE(preferences.cacheVideo(token()));
    preferences.setCacheVideoDirectoryPath(std::nullopt, token());
    EXPECT_EQ(preferences.cacheVideoDirectoryPath(token()), std::nullopt);
    EXPECT_EQ(&PSystem::preferences(),
              std::async(std::launch::async, [] { return &PSystem::preferences(); }).get());
}

TEST_F(PSystemTest, ServiceLocatorReplacesEarlierRegistrations) {
    PServiceLocator locator;
    locator.registerClass("First", "PUploading");
    locator.registerClass("Second", "PUploading");
    EXPECT_EQ(locator.classMapping().at("PUploading"), "Second");
    auto instance = std::make_shared<platform::Object>();
    locator.registerInstance(instance, "PUploading");
    EXPECT_EQ(locator.instanceMapping().at("PUploading"), instance);
}

TEST(UserDefaultsTest, ValuesSurviveARereadAndNullRemoves) {
    const std::string path = pindle::testing::processFolder() + "/defaults.json";
    std::filesystem::remove(path);
    {
        platform::UserDefaults defaults(path);
        EXPECT_TRUE(defaults.setObject(true, "flag"));
        EXPECT_TRUE(defaults.setObject(platform::Dictionary{{"k", 1}}, "map"));
        EXPECT_FALSE(defaults.setObject(std::nan(""), "bad"));
        EXPECT_TRUE(defaults.setObject("x", "gone"));
        EXPECT_TRUE(defaults.setObject(platform::Value(), "gone"));
    }
    platform::UserDefaults reread(path);
    EXPECT_TRUE(reread.boolForKey("flag"));
    EXPECT_EQ(reread.objectForKey("map"), platform::Value(platform::Dictionary{{"k", 1}}));
    EXPECT_EQ(reread.objectForKey("bad"), std::nullopt);
    EXPECT_EQ(reread.objectForKey("gone"), std::nullopt);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace pindle::legacy
