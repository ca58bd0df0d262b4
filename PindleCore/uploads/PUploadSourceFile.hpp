// PUploadSourceFile: the media file an upload sends, kept open from one range to the next so
// that a range costs one read instead of an open, a read and a close.
//
// Every read names the path it wants. The open file serves it only while that path still
// names that very file (same device and inode, still linked); otherwise the path is opened
// anew. So a file replaced, renamed away or deleted between two ranges reads exactly as it
// would through a fresh open of the path, and a truncated one gives a short read. close(), or
// the end of the object, lets the file go.
//
// Thread-safety: none of its own; one upload loop uses it from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/files/FileHandle.hpp"
#include "platform/foundation/Data.hpp"

namespace pindle::legacy {

class PUploadSourceFile {
  public:
    PUploadSourceFile() = default;
    PUploadSourceFile(const PUploadSourceFile&) = delete;
    PUploadSourceFile& operator=(const PUploadSourceFile&) = delete;

    // Up to `length` bytes from `offset` of the file at `path`; fewer at its end, none when
    // no file can be opened there.
    platform::Data read(const std::string& path, std::uint64_t offset, std::size_t length);
    void close();
    bool isOpen() const { return file_ != nullptr; }

  private:
    std::shared_ptr<platform::FileHandle> file_;
};

}  // namespace pindle::legacy
