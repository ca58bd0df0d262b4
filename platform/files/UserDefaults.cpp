#include "platform/files/UserDefaults.hpp"

#include "platform/files/AppContainer.hpp"
#include "platform/files/Bundle.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle::platform {

namespace {

std::string standardPath() {
    return AppContainer::libraryDirectory() + "/Preferences/" + Bundle::identifier() + ".json";
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    static UserDefaults* defaults = new UserDefaults(FollowContainer{});  // never destroyed
    return *defaults;
}

UserDefaults::UserDefaults(std::string path) : followsContainer_(false), path_(std::move(path)) {}

UserDefaults::UserDefaults(FollowContainer) : followsContainer_(true) {}

void UserDefaults::loadIfNeeded() {
    if (followsContainer_) {
        std::string current = standardPath();
        if (current != path_) {
            path_ = std::move(current);
            loaded_ = false;
        }
    }
    if (loaded_)
        return;
    loaded_ = true;
    values_.clear();
    std::optional<Data> contents = FileManager::defaultManager().contentsOfFile(path_);
    if (!contents)
        return;
    std::optional<Value> parsed = Json::parse(*contents);
    if (parsed && parsed->asDictionary())
        values_ = *parsed->asDictionary();
}

void UserDefaults::save() {
    std::optional<Data> contents = Json::serializeToData(Value(values_));
    if (!contents)
        return;
    const std::size_t slash = path_.rfind('/');
    if (slash != std::string::npos) {
        FileManager::defaultManager().createDirectory(path_.substr(0, slash), true).ignoreError();
    }
    FileManager::defaultManager().writeAtomically(path_, *contents).ignoreError();
}

std::optional<Value> UserDefaults::objectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadIfNeeded();
    auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) {
    std::optional<Value> value = objectForKey(key);
    if (!value || !value->asString())
        return std::nullopt;
    return *value->asString();
}

bool UserDefaults::boolForKey(const std::string& key) {
    std::optional<Value> value = objectForKey(key);
    if (!value)
        return false;
    if (std::optional<bool> flag = value->asBool())
        return *flag;
    if (std::optional<double> number = value->asDouble())
        return *number != 0;
    return false;
}

bool UserDefaults::setObject(const Value& value, const std::string& key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return true;
    }
    if (!Json::serialize(Dictionary{{key, value}}))
        return false;
    std::lock_guard lock(mutex_);
    loadIfNeeded();
    values_[key] = value;
    save();
    return true;
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadIfNeeded();
    if (values_.erase(key))
        save();
}

}  // namespace pindle::platform
