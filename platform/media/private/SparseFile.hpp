// SparseFile: an unlinked temporary file that keeps bytes at the offsets they were written
// to, with holes where nothing was. A byte store backed by one keeps a long download in the
// system's page cache instead of the process's memory; the file goes when it is closed, and a
// crash leaves nothing behind.
//
// Thread-safety: reads, writes and punches may run at the same time from any thread (each
// is one positioned system call); callers keep concurrent writes and punches apart from the
// bytes being read. No callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pindle::platform {

class SparseFile {
  public:
    // A new empty file in `folder`; nullptr when none can be made there.
    static std::unique_ptr<SparseFile> create(const std::string& folder);

    ~SparseFile();
    SparseFile(const SparseFile&) = delete;
    SparseFile& operator=(const SparseFile&) = delete;

    // False when not every byte could be written (a full disk).
    bool write(std::int64_t offset, const std::uint8_t* bytes, std::size_t size);
    // The bytes at [offset, offset + size) that the file holds, up to its end; a hole reads
    // as zeros.
    std::size_t read(std::int64_t offset, std::uint8_t* buffer, std::size_t size) const;
    // Gives [start, end) back to the file system; it then reads as zeros.
    void punch(std::int64_t start, std::int64_t end);

  private:
    explicit SparseFile(int fd) : fd_(fd) {}

    const int fd_;
};

}  // namespace pindle::platform
