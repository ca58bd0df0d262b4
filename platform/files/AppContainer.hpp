// AppContainer: the application's home folder and the standard folders inside it.
//
// The SDK keeps its files in "Documents", "Library", "Library/Caches" and "tmp" below one
// home folder, as the phone platform gives each application. Each folder is created (with
// its parents) whenever it is asked for, so callers may rely on it existing. The home is
// $PINDLE_HOME when set, else $XDG_DATA_HOME (or ~/.local/share) + "/pindle/" + the bundle
// identifier; the host (or a test) may set another before use. The environment is read when
// the default home is first needed and again after each setHome() (or a change of the bundle
// identifier), not on every call: change it before use, or call setHome() after changing it.
// The *Path calls name the same folders without touching the file system.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <string>

namespace pindle::platform {

class AppContainer {
  public:
    AppContainer() = delete;

    static constexpr const char* homeEnvironmentVariable = "PINDLE_HOME";

    // The home folder (created on demand).
    static std::string home();
    // Replaces the home folder; an empty text goes back to the default.
    static void setHome(std::string path);
    // The home that applies when none was set, from the environment and the bundle identifier.
    static std::string defaultHome();

    static std::string documentsDirectory();
    static std::string libraryDirectory();
    static std::string cachesDirectory();
    static std::string temporaryDirectory();

    // The paths of the home, "Documents" and "Library" as the calls above give them, without
    // making or looking at any folder: for readers, to whom a missing folder is a missing file,
    // and for writers that make the folders they need.
    static std::string homePath();
    static std::string documentsPath();
    static std::string libraryPath();
};

}  // namespace pindle::platform
