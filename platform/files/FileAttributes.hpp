// FileAttributes: what FileManager::attributesOfItem reports about one item.
//
// Attributes describe the item itself: a symbolic link is reported as a link (its size is
// the length of the path it holds), never as what it points to.
//
// Thread-safety: a plain value type.
#pragma once

#include <cstdint>

#include "platform/foundation/Date.hpp"

namespace pindle::platform {

struct FileAttributes {
    enum class Type { regular, directory, symbolicLink, other };

    Type type = Type::other;
    std::uint64_t size = 0;
    // When the item came into being: the file system's birth time where it keeps one, else
    // the time recorded when this SDK created the item (see FileManager).
    Date creationDate;
    Date modificationDate;
    std::uint32_t permissions = 0;  // the mode's permission bits (07777)
    std::uint64_t linkCount = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool isRegularFile() const { return type == Type::regular; }
    bool isDirectory() const { return type == Type::directory; }
    bool isSymbolicLink() const { return type == Type::symbolicLink; }
};

}  // namespace pindle::platform
