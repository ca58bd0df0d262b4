#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::emulator {

// The bytes of a media body, sent by slices so that no reply ever copies or holds a whole
// file: either an immutable string shared with whoever made it, or a file on disk opened
// once (a file replaced while a reply is being sent keeps serving the bytes it was opened
// with).
// Thread-safety: immutable once built; reads may run concurrently.
class BodySource {
  public:
    static std::shared_ptr<const BodySource> ofBytes(std::shared_ptr<const std::string> bytes);
    // Nothing when the path is not a regular file that can be opened for reading.
    static std::shared_ptr<const BodySource> ofFile(const std::filesystem::path& file);

    BodySource(const BodySource&) = delete;
    BodySource& operator=(const BodySource&) = delete;
    ~BodySource();

    std::uint64_t size() const { return size_; }
    // The bytes themselves when they are in memory, so they can be sent without a copy.
    std::optional<std::string_view> inMemory() const;
    // Replaces `out` with `length` bytes from `offset`. False on a read error or a file that
    // became shorter than it was when opened.
    bool read(std::uint64_t offset, std::size_t length, std::string& out) const;

  private:
    BodySource(std::shared_ptr<const std::string> bytes, int fd, std::uint64_t size);

    std::shared_ptr<const std::string> bytes_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace pindle::emulator
