#include "platform/files/ResourceBundle.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <string_view>
#include <vector>

#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/files/private/StringsFile.hpp"
#include "platform/foundation/UUID.hpp"

namespace pindle::platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, ResourceBundlePtr> bundles;  // guarded by mutex
};

Registry& registry() {
    static Registry* instance = new Registry;  // never destroyed: reachable from static init
    return *instance;
}

std::string fileName(const std::string& name, const std::string& type) {
    return type.empty() ? name : name + "." + type;
}

// Resource and bundle names become file names: only plain names are written out. A leading
// "." is refused too, so no name can stand for a staging folder or a hidden file.
constexpr std::size_t longestName = 255;
bool isPlainName(const std::string& name) {
    if (name.empty() || name.size() > longestName || name.front() == '.')
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

constexpr const char* stringsSuffix = ".strings";

// The folders processes write resources into, <Caches>/bundles/<pid>[.<n>]: each is locked
// (flock on the folder) by its process for the process's life, so a folder whose lock can be
// taken belongs to a process that has ended, and is removed when another process makes its own.
class ProcessFolders {
  public:
    static ProcessFolders& shared() {
        static auto* instance = new ProcessFolders;  // never destroyed: descriptors stay locked
        return *instance;
    }

    // This process's folder under `caches`, made (and its predecessors swept) on first use and
    // made again when it has gone; nothing when it cannot be made.
    std::optional<std::string> folderIn(const std::string& caches) {
        std::lock_guard lock(mutex_);
        const auto& files = FileManager::defaultManager();
        auto known = folders_.find(caches);
        if (known != folders_.end() && files.fileExists(known->second))
            return known->second;
        const std::string bundles = caches + "/bundles";
        if (!files.fileExists(bundles) && !files.createDirectory(bundles, true).ok())
            return std::nullopt;
        sweep(bundles);
        auto made = make(bundles);
        if (made)
            folders_[caches] = *made;
        return made;
    }

  private:
    static constexpr int nameAttempts = 8;

    // Takes the lock of `path` when nobody holds it; the open descriptor, else -1.
    static int lockIfFree(const std::string& path) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor < 0)
            return -1;
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            ::close(descriptor);
            return -1;
        }
        return descriptor;
    }

    void sweep(const std::string& bundles) {
        const auto& files = FileManager::defaultManager();
        auto entries = files.contentsOfDirectory(bundles);
        if (!entries)
            return;
        for (const auto& entry : *entries) {
            const std::string path = bundles + "/" + entry;
            bool ours = false;
            for (const auto& [caches, folder] : folders_) ours = ours || folder == path;
            // Only the names processes give their folders; anything else is left alone.
            const bool processFolder =
                !entry.empty() && (std::isdigit(static_cast<unsigned char>(entry.front())) ||
                                   entry.starts_with(".staging-"));
            if (ours || !processFolder)
                continue;
            const int descriptor = lockIfFree(path);
            if (descriptor < 0)
                continue;
            files.removeItem(path).ignoreError();
            ::close(descriptor);
        }
    }

    // The folder is made and locked under a staging name and only then given its public
    // name, so no other process ever finds it unlocked while this one lives.
    std::optional<std::string> make(const std::string& bundles) {
        const auto& files = FileManager::defaultManager();
        const std::string staging = bundles + "/.staging-" + UUID::random().uuidString();
        if (!files.createDirectory(staging, false).ok())
            return std::nullopt;
        const int descriptor = lockIfFree(staging);
        if (descriptor < 0) {
            files.removeItem(staging).ignoreError();
            return std::nullopt;
        }
        const std::string pid = std::to_string(::getpid());
        for (int attempt = 0; attempt < nameAttempts; ++attempt) {
            const std::string path =
                bundles + "/" + pid + (attempt ? "." + std::to_string(attempt) : "");
            if (files.fileExists(path)) {
                // Left by an ended process that had the same id: take its place.
                const int stale = lockIfFree(path);
                if (stale < 0)
                    continue;
                files.removeItem(path).ignoreError();
                ::close(stale);
            }
            if (::rename(staging.c_str(), path.c_str()) == 0) {
                descriptors_.push_back(descriptor);
                return path;
            }
        }
        files.removeItem(staging).ignoreError();
        ::close(descriptor);
        return std::nullopt;
    }

    std::mutex mutex_;
    std::map<std::string, std::string> folders_;  // caches folder -> ours; guarded by mutex_
    std::vector<int> descriptors_;                // held locks, never closed; guarded by mutex_
};

}  // namespace

ResourceBundlePtr ResourceBundle::registerBundle(std::string identifier,
                                                 std::map<std::string, Data> resources,
                                                 Strings strings) {
    auto bundle =
        std::make_shared<ResourceBundle>(identifier, std::move(resources), std::move(strings));
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.bundles[std::move(identifier)] = bundle;
    return bundle;
}

ResourceBundlePtr ResourceBundle::registerEmbedded(std::string identifier,
                                                   const EmbeddedFile* files, std::size_t count) {
    std::map<std::string, Data> resources;
    Strings strings;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = files[i].name;
        Data bytes(files[i].bytes, files[i].bytes + files[i].size);
        const std::string_view suffix = stringsSuffix;
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            const std::string_view text(reinterpret_cast<const char*>(files[i].bytes),
                                        files[i].size);
            if (auto table = StringsFile::parse(text))
                strings[name.substr(0, name.size() - suffix.size())] = std::move(*table);
        }
        resources[name] = std::move(bytes);
    }
    return registerBundle(std::move(identifier), std::move(resources), std::move(strings));
}

ResourceBundlePtr ResourceBundle::withIdentifier(const std::string& identifier) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.bundles.find(identifier);
    return it == r.bundles.end() ? nullptr : it->second;
}

ResourceBundle::ResourceBundle(std::string identifier, std::map<std::string, Data> resources,
                               Strings strings)
    : identifier_(std::move(identifier)),
      resources_(std::move(resources)),
      strings_(std::move(strings)) {}

std::optional<Data> ResourceBundle::data(const std::string& name, const std::string& type) const {
    auto it = resources_.find(fileName(name, type));
    if (it == resources_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> ResourceBundle::pathForResource(const std::string& name,
                                                           const std::string& type) const {
    const std::string file = fileName(name, type);
    auto it = resources_.find(file);
    if (it == resources_.end() || !isPlainName(file) || !isPlainName(identifier_))
        return std::nullopt;
    auto processFolder = ProcessFolders::shared().folderIn(AppContainer::cachesDirectory());
    if (!processFolder)
        return std::nullopt;
    const std::string folder = *processFolder + "/" + identifier_;
    const std::string path = folder + "/" + file;
    const auto& files = FileManager::defaultManager();
    std::lock_guard lock(mutex_);
    if (writtenPaths_.count(path) && files.fileExists(path))
        return path;
    if (!files.fileExists(folder) && !files.createDirectory(folder, true).ok())
        return std::nullopt;
    if (!files.writeAtomically(path, it->second).ok())
        return std::nullopt;
    writtenPaths_.insert(path);
    return path;
}

std::string ResourceBundle::localizedString(const std::string& key, const std::string& value,
                                            const std::string& table) const {
    auto t = strings_.find(table.empty() ? "Localizable" : table);
    if (t != strings_.end()) {
        auto it = t->second.find(key);
        if (it != t->second.end())
            return it->second;
    }
    return value.empty() ? key : value;
}

}  // namespace pindle::platform
