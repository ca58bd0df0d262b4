#include "platform/files/ResourceBundle.hpp"

#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"

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

// Resource and bundle names become file names: only plain names are written out.
bool isPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

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
    std::lock_guard lock(mutex_);
    const std::string folder = AppContainer::cachesDirectory() + "/bundles/" + identifier_;
    const std::string path = folder + "/" + file;
    if (writtenPaths_.count(path))
        return path;
    const auto& files = FileManager::defaultManager();
    if (!files.fileExists(folder) && files.createDirectory(folder, true))
        return std::nullopt;
    if (files.writeAtomically(path, it->second))
        return std::nullopt;
    writtenPaths_.insert(path);
    return path;
}

ImagePtr ResourceBundle::imageNamed(const std::string& name) const {
    auto bytes = data(name, "");
    if (!bytes)
        bytes = data(name, "png");
    return bytes ? Image::fromData(*bytes) : nullptr;
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
