// FileVersion: what tells one state of a file from another at the cost of one stat: the
// file's identity (device and inode), its size, and its modification and status-change times
// in nanoseconds. A file replaced by a rename gets a new identity; one written in place a new
// size or new times. See FileManager::versionOfItem.
//
// Thread-safety: a plain value type.
#pragma once

#include <cstdint>

namespace pindle::platform {

struct FileVersion {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileVersion&) const = default;
};

}  // namespace pindle::platform
