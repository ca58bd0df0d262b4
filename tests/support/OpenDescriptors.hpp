// How many descriptors of this process are open on a file: for tests that check a file is let
// go, or that a second user has opened it and waits.
// Thread-safety: usable from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace pindle::testing {

// Descriptors of this process open on `path`, or on what was at `path` before it was deleted
// or replaced.
inline int descriptorsOpenOn(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && (target == path || target == path + " (deleted)"))
            ++count;
    }
    return count;
}

}  // namespace pindle::testing
