// ExtendedAttributeStore: the in-process stand-in for extended attributes on file systems
// that refuse them.
//
// FileManager keeps an item's attributes here, keyed by device and inode, when the file
// system answers ENOTSUP, so callers that mark files (an "archived" flag, a creation time)
// keep working for the life of the process. Nothing here survives a restart. FileManager
// forgets an item's entries when it removes the item's last link, so a recycled inode
// number does not inherit them.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/Data.hpp"

namespace pindle::platform {

class ExtendedAttributeStore {
  public:
    struct FileKey {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        auto operator<=>(const FileKey&) const = default;
    };

    // The process-wide store.
    static ExtendedAttributeStore& shared();

    ExtendedAttributeStore() = default;
    ExtendedAttributeStore(const ExtendedAttributeStore&) = delete;
    ExtendedAttributeStore& operator=(const ExtendedAttributeStore&) = delete;

    std::optional<Data> get(FileKey file, const std::string& name) const;
    void set(FileKey file, const std::string& name, Data value);
    // True when the attribute was there.
    bool remove(FileKey file, const std::string& name);
    void forget(FileKey file);

  private:
    mutable std::mutex mutex_;
    std::map<FileKey, std::map<std::string, Data>> attributes_;  // guarded by mutex_
};

}  // namespace pindle::platform
