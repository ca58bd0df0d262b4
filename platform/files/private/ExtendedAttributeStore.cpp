#include "platform/files/private/ExtendedAttributeStore.hpp"

namespace pindle::platform {

ExtendedAttributeStore& ExtendedAttributeStore::shared() {
    static auto* store = new ExtendedAttributeStore();  // never destroyed: see ARCHITECTURE
    return *store;
}

std::optional<Data> ExtendedAttributeStore::get(FileKey file, const std::string& name) const {
    std::scoped_lock lock(mutex_);
    const auto item = attributes_.find(file);
    if (item == attributes_.end())
        return std::nullopt;
    const auto attribute = item->second.find(name);
    if (attribute == item->second.end())
        return std::nullopt;
    return attribute->second;
}

void ExtendedAttributeStore::set(FileKey file, const std::string& name, Data value) {
    std::scoped_lock lock(mutex_);
    attributes_[file][name] = std::move(value);
}

bool ExtendedAttributeStore::remove(FileKey file, const std::string& name) {
    std::scoped_lock lock(mutex_);
    const auto item = attributes_.find(file);
    if (item == attributes_.end())
        return false;
    const bool removed = item->second.erase(name) > 0;
    if (item->second.empty())
        attributes_.erase(item);
    return removed;
}

void ExtendedAttributeStore::forget(FileKey file) {
    std::scoped_lock lock(mutex_);
    attributes_.erase(file);
}

}  // namespace pindle::platform
