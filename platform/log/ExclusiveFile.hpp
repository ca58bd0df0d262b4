// ExclusiveFile: creates a new, empty file only when nothing exists at its path yet, in one
// step (O_CREAT | O_EXCL), so two writers racing for the same name cannot both get it.
// Checking for the name first and creating afterwards would let both through.
//
// The new file's creation date is recorded where the file system keeps none (see
// FileManager).
//
// Thread-safety: safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

class ExclusiveFile {
  public:
    ExclusiveFile() = delete;

    // Nothing on success; a file error otherwise (FileErrorCode::writeFileExists when
    // something is already there, see isCollision()).
    static platform::Status create(const std::string& path);
    // Whether `error` from create() means the name was taken.
    static bool isCollision(const Error& error);
};

}  // namespace pindle::platform
