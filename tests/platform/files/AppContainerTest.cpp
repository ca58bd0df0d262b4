#include "platform/files/AppContainer.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files/Bundle.hpp"
#include "platform/files/ProcessInfo.hpp"
#include "tests/platform/files/FileTestSupport.hpp"

namespace pindle::platform {
namespace {

using testing::TemporaryFolder;

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(AppContainerTest, StandardFoldersLiveInTheHomeAndComeBackWhenRemoved) {
    TemporaryFolder folder;
    const std::string home = folder / "home";
    struct RestoreHome {
        std::string former = AppContainer::home();
        ~RestoreHome() { AppContainer::setHome(former); }
    } restoreHome;
    AppContainer::setHome(home + "/");
    const auto& files = FileManager::defaultManager();

    struct Case {
        std::string (*folder)();
        std::string expected;
    };
    const Case cases[] = {
        {&AppContainer::documentsDirectory, home + "/Documents"},
        {&AppContainer::libraryDirectory, home + "/Library"},
        {&AppContainer::cachesDirectory, home + "/Library/Caches"},
        {&AppContainer::temporaryDirectory, home + "/tmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.folder(), c.expected);
        bool isDirectory = false;
        EXPECT_TRUE(files.fileExists(c.expected, &isDirectory) && isDirectory);
        ASSERT_TRUE(files.removeItem(c.expected).ok());
        EXPECT_EQ(c.folder(), c.expected);
        EXPECT_TRUE(files.fileExists(c.expected));
    }
    EXPECT_EQ(AppContainer::home(), home);
}

TEST(AppContainerTest, DefaultHomeFollowsTheEnvironmentAndTheIdentifier) {
    Bundle::setIdentifier("com.example.host");
    {
        ScopedEnvironment pindleHome("PINDLE_HOME", "/srv/pindle-home");
        EXPECT_EQ(AppContainer::defaultHome(), "/srv/pindle-home");
    }
    {
        ScopedEnvironment pindleHome("PINDLE_HOME", nullptr);
        ScopedEnvironment xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(AppContainer::defaultHome(), "/data/pindle/com.example.host");
    }
    {
        ScopedEnvironment pindleHome("PINDLE_HOME", nullptr);
        ScopedEnvironment xdg("XDG_DATA_HOME", nullptr);
        ScopedEnvironment home("HOME", "/home/someone");
        EXPECT_EQ(AppContainer::defaultHome(),
                  "/home/someone/.local/share/pindle/com.example.host");
    }
    Bundle::setIdentifier({});
}

TEST(AppContainerTest, DefaultHomeIsWorkedOutAgainAfterSetHomeOrANewIdentifier) {
    struct Restore {
        std::string home = AppContainer::home();
        ~Restore() {
            Bundle::setIdentifier({});
            AppContainer::setHome(home);
        }
    } restore;
    ScopedEnvironment pindleHome("PINDLE_HOME", nullptr);
    ScopedEnvironment xdg("XDG_DATA_HOME", "/data");
    Bundle::setIdentifier("com.example.one");
    AppContainer::setHome({});
    EXPECT_EQ(AppContainer::homePath(), "/data/pindle/com.example.one");
    EXPECT_EQ(AppContainer::libraryPath(), "/data/pindle/com.example.one/Library");

    Bundle::setIdentifier("com.example.two");
    EXPECT_EQ(AppContainer::documentsPath(), "/data/pindle/com.example.two/Documents");

    // A set home wins over the remembered default, and resetting it reads the environment again.
    AppContainer::setHome("/elsewhere");
    EXPECT_EQ(AppContainer::homePath(), "/elsewhere");
    ScopedEnvironment movedXdg("XDG_DATA_HOME", "/moved");
    AppContainer::setHome({});
    EXPECT_EQ(AppContainer::homePath(), "/moved/pindle/com.example.two");
}

TEST(AppContainerTest, BundleIdentifierFallsBackToTheProcessName) {
    EXPECT_EQ(ProcessInfo::processName(), "PlatformTests");
    EXPECT_FALSE(Bundle::hasIdentifier());
    EXPECT_EQ(Bundle::identifier(), "PlatformTests");

    Bundle::setIdentifier("com.example.host");
    EXPECT_TRUE(Bundle::hasIdentifier());
    EXPECT_EQ(Bundle::infoValue(Bundle::identifierKey), Value("com.example.host"));
    Bundle::setInfoDictionary({{"UIBackgroundModes", Array{"audio"}}});
    EXPECT_EQ(Bundle::infoValue("UIBackgroundModes"), Value(Array{"audio"}));
    EXPECT_FALSE(Bundle::infoValue("Missing"));

    Bundle::setIdentifier({});
    Bundle::setInfoDictionary({});
    EXPECT_EQ(Bundle::identifier(), "PlatformTests");
}

TEST(AppContainerTest, ProcessFacts) {
    EXPECT_EQ(ProcessInfo::processIdentifier(), ::getpid());
    EXPECT_GE(ProcessInfo::processorCount(), 1u);
    ScopedEnvironment variable("PINDLE_TEST_VARIABLE", "");
    EXPECT_EQ(ProcessInfo::environmentValue("PINDLE_TEST_VARIABLE"), "");
    EXPECT_FALSE(ProcessInfo::environmentValue("PINDLE_TEST_VARIABLE_UNSET"));
}

}  // namespace
}  // namespace pindle::platform
