#include "platform/files/AppContainer.hpp"

#include <pwd.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/files/Bundle.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/files/ProcessInfo.hpp"

namespace pindle::platform {

namespace {

constexpr const char* documentsName = "Documents";
constexpr const char* libraryName = "Library";
constexpr const char* cachesName = "Library/Caches";
constexpr const char* temporaryName = "tmp";

struct HomeState {
    std::mutex mutex;
    std::string home;  // guarded by mutex; empty: the default
    // The default home as last worked out, and the bundle identifier it was worked out for:
    // every path below the home is named from it, several times for each range an upload
    // sends, and reading the environment for each costs more than the rest of the naming.
    std::string defaultHome;        // guarded by mutex; empty: to be worked out
    std::string defaultIdentifier;  // guarded by mutex
};

HomeState& homeState() {
    static auto* shared = new HomeState();  // never destroyed: see ARCHITECTURE
    return *shared;
}

std::string userHome() {
    if (auto home = ProcessInfo::environmentValue("HOME"); home && !home->empty())
        return *home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return "/tmp";
}

std::string existingFolder(std::string path) {
    // A folder that cannot be made is reported by whatever later fails to use it.
    FileManager::defaultManager().createDirectory(path, true).ignoreError();
    return path;
}

std::string folderInHome(const char* name) {
    return existingFolder(AppContainer::home() + "/" + name);
}

}  // namespace

std::string AppContainer::defaultHome() {
    if (auto home = ProcessInfo::environmentValue(homeEnvironmentVariable); home && !home->empty())
        return *home;
    std::string data;
    if (auto xdg = ProcessInfo::environmentValue("XDG_DATA_HOME"); xdg && !xdg->empty())
        data = *xdg;
    else
        data = userHome() + "/.local/share";
    return data + "/pindle/" + Bundle::identifier();
}

std::string AppContainer::home() {
    return existingFolder(homePath());
}

std::string AppContainer::homePath() {
    std::scoped_lock lock(homeState().mutex);
    if (!homeState().home.empty())
        return homeState().home;
    // Bundle never calls back into the container, so its lock may be taken under this one.
    std::string identifier = Bundle::identifier();
    if (homeState().defaultHome.empty() || homeState().defaultIdentifier != identifier) {
        homeState().defaultHome = defaultHome();
        homeState().defaultIdentifier = std::move(identifier);
    }
    return homeState().defaultHome;
}

std::string AppContainer::documentsPath() {
    return homePath() + "/" + documentsName;
}

std::string AppContainer::libraryPath() {
    return homePath() + "/" + libraryName;
}

void AppContainer::setHome(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::scoped_lock lock(homeState().mutex);
    homeState().home = std::move(path);
    homeState().defaultHome.clear();
}

std::string AppContainer::documentsDirectory() {
    return folderInHome(documentsName);
}
std::string AppContainer::libraryDirectory() {
    return folderInHome(libraryName);
}
std::string AppContainer::cachesDirectory() {
    return folderInHome(cachesName);
}
std::string AppContainer::temporaryDirectory() {
    return folderInHome(temporaryName);
}

}  // namespace pindle::platform
