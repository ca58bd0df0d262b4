#include "tests/support/TestFolders.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/files/AppContainer.hpp"

namespace pindle::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* folderPrefix = "pindle-test-";
// The folders of earlier test mains, named after their process and never locked.
constexpr const char* formerFolderPrefix = "pindle-test-home-";
// Names the folder of the test process that started this one, if any.
constexpr const char* enclosingFolderVariable = "PINDLE_TEST_ENCLOSING_FOLDER";

struct ProcessFolder {
    std::string folder;
    std::string home;
    int lockDescriptor = -1;  // an open descriptor of the folder, locked for the process's life
};

ProcessFolder& processState() {
    static auto* state = new ProcessFolder();  // never destroyed: read by late exit handlers
    return *state;
}

// A process folder is in use while its owner holds the lock on it; the kernel drops the lock
// when the owner exits, however it exits, so this holds across reused process ids too.
bool isAbandoned(const fs::path& folder) {
    const std::string name = folder.filename().string();
    if (name.rfind(formerFolderPrefix, 0) == 0) {
        const std::string pid = name.substr(std::strlen(formerFolderPrefix));
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            return false;
        return ::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH;
    }
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool free = ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    ::close(descriptor);
    return free;
}

void removeAbandonedFolders(const fs::path& parent) {
    std::error_code error;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (path.filename().string().rfind(folderPrefix, 0) != 0)
            continue;
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored) && isAbandoned(path))
            fs::remove_all(path, ignored);
    }
}

}  // namespace

const std::string& processFolder() {
    return processState().folder;
}

const std::string& processHome() {
    return processState().home;
}

std::string makeScratchFolder(const std::string& prefix) {
    std::string pattern = processFolder() + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder in " + processFolder());
    return pattern;
}

void setUpProcessFolder() {
    ProcessFolder& state = processState();
    // A test executable run again by one of its own tests (a death test, a fresh process)
    // makes its folder inside the caller's, which goes when the caller's does: such a child
    // ends without tidying up, and nothing else would remove its folder until the next run.
    // Otherwise the temporary folder (temp_directory_path() follows TMPDIR).
    const char* enclosing = std::getenv(enclosingFolderVariable);
    const fs::path parent =
        enclosing && *enclosing ? fs::path(enclosing) : fs::temp_directory_path();
    // The folder is made and locked under a name other processes ignore, and only then given
    // its public name, so no process ever sees it unlocked while its owner lives.
    std::string staging = (parent / ".pindle-test-staging-XXXXXX").string();
    if (::mkdtemp(staging.data()) == nullptr)
        throw std::runtime_error("cannot make a folder in " + parent.string());
    state.lockDescriptor = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (state.lockDescriptor < 0 || ::flock(state.lockDescriptor, LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot lock " + staging);
    const fs::path folder = parent / (folderPrefix + std::to_string(::getpid()) + "-" +
                                      staging.substr(staging.size() - 6));
    // Traversable by everyone (not listable), for tests whose child process drops privileges.
    fs::permissions(staging, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::rename(staging, folder);
    fs::create_directory(folder / "home");
    state.folder = folder.string();
    state.home = (folder / "home").string();
    removeAbandonedFolders(parent);
    // Called before any thread but the main one runs.
    ::setenv(enclosingFolderVariable, state.folder.c_str(), 1);

    platform::AppContainer::setHome(state.home);
}

void removeProcessFolder() {
    ProcessFolder& state = processState();
    std::error_code ignored;
    fs::remove_all(state.folder, ignored);
    if (state.lockDescriptor >= 0)
        ::close(state.lockDescriptor);
    state.lockDescriptor = -1;
}

}  // namespace pindle::testing
