// MediaByteStore: the sparse copy of a media resource that a player item keeps while bytes
// arrive out of order from its resource loader. Readers take only bytes that are present and
// never wait for the rest; a run of present bytes may span several stored blocks.
//
// Bytes are kept in blocks that are never moved once written: a write copies only the bytes
// the store lacks, and a write that continues a block fills the room that block reserved
// (a block that another block follows directly reserves `blockSize`). So a download that
// arrives in order costs one copy of each byte, whatever the file's size; bytes already
// present are never written again.
//
// The store is bounded: once it holds `capacity` bytes, runs that lie wholly before the
// discardable offset (the player keeps it a minute behind the playhead) are dropped; a write
// that still does not fit is refused. Writes beyond a known content length are clipped.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace pindle::platform {

class MediaByteStore {
  public:
    static constexpr std::int64_t defaultCapacity = 512LL * 1024 * 1024;
    static constexpr std::int64_t blockSize = 256 * 1024;

    explicit MediaByteStore(std::int64_t capacity = defaultCapacity);
    MediaByteStore(const MediaByteStore&) = delete;
    MediaByteStore& operator=(const MediaByteStore&) = delete;

    // Stores `size` bytes at `offset`. Returns false when nothing could be kept (a negative
    // offset, bytes wholly past the content length, or no room left).
    bool write(std::int64_t offset, const std::uint8_t* bytes, std::size_t size);
    // True when every byte of [offset, offset + size) is present (size 0: always).
    bool present(std::int64_t offset, std::int64_t size) const;
    // Copies up to `max` contiguous present bytes starting at `offset`; 0 when the byte at
    // `offset` is missing.
    std::size_t read(std::int64_t offset, std::uint8_t* buffer, std::size_t max) const;
    // The first offset at or after `from` whose byte is missing; nothing when every byte
    // from there to the known content length is present.
    std::optional<std::int64_t> firstMissing(std::int64_t from) const;

    // -1 while unknown.
    void setContentLength(std::int64_t length);
    std::int64_t contentLength() const;
    // Runs ending at or before `offset` may be dropped to make room.
    void setDiscardableBefore(std::int64_t offset);

    std::int64_t bytesStored() const;
    // What writes have brought since the store was made: every byte handed over (clipped to
    // the content length), and those of them that were present already. A reader that takes
    // each byte of a resource once hands over its length and repeats nothing.
    struct Counters {
        std::int64_t handed = 0;
        std::int64_t repeated = 0;
    };
    Counters counters() const;
    // The present runs as [start, end) pairs, in order.
    std::vector<std::pair<std::int64_t, std::int64_t>> runs() const;

  private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::int64_t size = 0;      // bytes written, from the block's start
        std::int64_t reserved = 0;  // bytes allocated, >= size
    };
    using Blocks = std::map<std::int64_t, Block>;  // start -> block; blocks never overlap
    // start -> end of each maximal run of present bytes, kept beside the blocks so that finding
    // where a run ends does not walk every block of a long download.
    using Runs = std::map<std::int64_t, std::int64_t>;

    static std::int64_t endOf(const Blocks::value_type& block);
    Blocks::const_iterator blockContainingLocked(std::int64_t offset) const;
    // The end of the run of present bytes through `offset`'s block (`offset` when missing).
    std::int64_t runEndLocked(std::int64_t offset) const;
    // The missing parts of [start, end), in order.
    std::vector<std::pair<std::int64_t, std::int64_t>> gapsLocked(std::int64_t start,
                                                                  std::int64_t end) const;
    void fillGapLocked(std::int64_t start, std::int64_t end, const std::uint8_t* bytes);
    void addRunLocked(std::int64_t start, std::int64_t end);
    void removeRunLocked(std::int64_t start, std::int64_t end);
    void makeRoomLocked(std::int64_t needed);

    const std::int64_t capacity_;

    mutable std::mutex mutex_;
    Blocks blocks_;                       // guarded by mutex_
    Runs runs_;                           // guarded by mutex_; the union of the blocks
    std::int64_t stored_ = 0;             // guarded by mutex_; bytes written
    std::int64_t allocated_ = 0;          // guarded by mutex_; bytes reserved, >= stored_
    std::int64_t contentLength_ = -1;     // guarded by mutex_
    std::int64_t discardableBefore_ = 0;  // guarded by mutex_
    Counters counters_;                   // guarded by mutex_
};

}  // namespace pindle::platform
