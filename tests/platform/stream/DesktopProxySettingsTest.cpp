#include "platform/net/stream/private/DesktopProxySettings.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

TEST(DesktopProxySettingsTest, TheURLCountsOnlyInAutomaticMode) {
    const std::string url = "org.gnome.system.proxy autoconfig-url 'http://pac.test/p.pac'\n";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"org.gnome.system.proxy mode 'auto'\n" + url, "http://pac.test/p.pac"},
        {url + "org.gnome.system.proxy mode 'auto'", "http://pac.test/p.pac"},
        {"org.gnome.system.proxy mode 'manual'\n" + url, std::nullopt},
        {"org.gnome.system.proxy mode 'auto'\norg.gnome.system.proxy autoconfig-url ''\n",
         std::nullopt},
        // A key of the same name in a sub-schema is another setting.
        {"org.gnome.system.proxy.http mode 'auto'\n" + url, std::nullopt},
        {"org.gnome.system.proxy mode 'auto'\n"
         "org.gnome.system.proxy autoconfig-url 'http://pac.test/it\\'s.pac'\n",
         "http://pac.test/it's.pac"},
    };
    for (const auto& [listing, expected] : cases) {
        SCOPED_TRACE(listing);
        EXPECT_EQ(DesktopProxySettings::autoConfigurationURLFromListing(listing), expected);
    }
}

// A stand-in for gsettings that notes each run in `runs`, then runs `body`.
std::string writeProgram(const std::string& folder, const std::string& runs,
                         const std::string& body) {
    std::string path = folder + "/gsettings";
    std::ofstream(path) << "#!/bin/sh\necho run >> '" << runs << "'\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
}

int countLines(const std::string& path) {
    std::ifstream file(path);
    int lines = 0;
    for (std::string line; std::getline(file, line);) ++lines;
    return lines;
}

TEST(DesktopProxySettingsTest, AsksTheDesktopOnceAndNoLongerThanItsTimeOut) {
    struct Case {
        const char* name;
        std::string body;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"answers",
         "echo \"org.gnome.system.proxy mode 'auto'\"\n"
         "echo \"org.gnome.system.proxy autoconfig-url 'http://pac.test/p.pac'\"",
         "http://pac.test/p.pac"},
        {"never answers", "exec sleep 60", std::nullopt},
        {"fails", "exit 1", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = testing::makeScratchFolder("desktop-proxy-");
        const std::string runs = folder + "/runs";
        DesktopProxySettings settings(writeProgram(folder, runs, c.body), 0.5);
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(settings.autoConfigurationURL(), c.expected);
        EXPECT_EQ(settings.autoConfigurationURL(), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(countLines(runs), 1);
    }
    EXPECT_EQ(DesktopProxySettings(std::nullopt).autoConfigurationURL(), std::nullopt);
}

}  // namespace
}  // namespace pindle::platform
