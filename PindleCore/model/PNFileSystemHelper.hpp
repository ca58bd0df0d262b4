// PNFileSystemHelper: sizes of files and folders in bytes, as the file system reports them.
//
// The local video cache measures recorded files with it, and upload records measure the
// media they still have to send. Nothing reads file contents: sizes come from the items'
// attributes, which describe a symbolic link as itself (the length of the path it holds),
// never as what it points to. Neither operation fails: what cannot be read counts 0.
//
// Thread-safety: stateless; both operations may run on any thread, concurrently. They block
// for the file-system calls and call nothing back.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNFileSystemHelper : public platform::Object {
  public:
    PNFileSystemHelper() = default;

    // The size of the item at the URL's path; 0 when it cannot be read (a missing file and an
    // empty one look the same) or does not fit a signed 64-bit count.
    static std::int64_t fileSize(const platform::URL& url);
    // The same for a path as the file system takes it.
    static std::int64_t fileSize(const std::string& path);

    // The sum of the sizes of everything below the folder, at every depth, subfolder entries
    // included, the folder itself not; 0 when the folder cannot be read. A subfolder that
    // cannot be opened adds only its own entry. An item whose attributes cannot be read adds
    // nothing and leaves one line on standard output with the error's description. Links to
    // folders are not followed.
    static std::int64_t directorySize(const platform::URL& url);
};

}  // namespace pindle
