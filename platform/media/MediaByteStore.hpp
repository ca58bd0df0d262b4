// MediaByteStore: the sparse copy of a media resource that a player item keeps while bytes
// arrive out of order from its resource loader. Readers take only bytes that are present and
// never wait for the rest; a run of present bytes may span several stored blocks.
//
// Bytes already present are never written again: a write keeps only the bytes the store
// lacks. Where they are kept:
// - in a spill file, when the store is given a folder to make one in: an unlinked temporary
//   file that holds each byte at its own offset, so a download of any length lies in the
//   system's page cache and the process's memory stays flat (file I/O never happens under
//   the lock that presence queries take);
// - otherwise (or when that file cannot be made) in memory, in blocks that are never moved
//   once written: a write that continues a block fills the room that block reserved (a block
//   that another block follows directly reserves `blockSize`), so a download that arrives in
//   order costs one copy of each byte, whatever the file's size.
//
// The store is bounded: once it holds `capacity` bytes, present bytes before the discardable
// offset (the player keeps it a minute behind the playhead) are dropped (in memory, whole
// blocks that lie before it; in the spill file, the head of each run up to it, given back to
// the file system); a write that still does not fit is refused. Writes beyond a known content
// length are clipped.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pindle::platform {

class SparseFile;

class MediaByteStore {
  public:
    static constexpr std::int64_t defaultCapacity = 512LL * 1024 * 1024;
    static constexpr std::int64_t blockSize = 256 * 1024;

    // In memory, or in a spill file made in `spillFolder` when one is named and can be made.
    explicit MediaByteStore(std::int64_t capacity = defaultCapacity,
                            const std::string& spillFolder = {});
    ~MediaByteStore();
    MediaByteStore(const MediaByteStore&) = delete;
    MediaByteStore& operator=(const MediaByteStore&) = delete;

    // Whether the bytes lie in a spill file rather than in memory.
    bool spills() const { return file_ != nullptr; }

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
    using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;  // [start, end) pairs
    static std::int64_t sizeOf(const Ranges& ranges);
    // What a write does: the missing parts it fills, the bytes dropped to make room for them
    // (from the spill file: their holes are still to be punched), and whether they fit.
    struct Plan {
        Ranges gaps;
        Ranges dropped;
        bool fits = true;
    };
    // Clips a write to the content length, counts it and makes room for it; nothing when it
    // lies wholly past the content length.
    std::optional<Plan> planLocked(std::int64_t offset, std::size_t size);
    bool writeToFile(std::int64_t offset, const std::uint8_t* bytes, std::size_t size);
    std::size_t readFromFile(std::int64_t offset, std::uint8_t* buffer, std::size_t max) const;
    Blocks::const_iterator blockContainingLocked(std::int64_t offset) const;
    // The end of the run of present bytes through `offset`'s block (`offset` when missing).
    std::int64_t runEndLocked(std::int64_t offset) const;
    // The missing parts of [start, end), in order.
    Ranges gapsLocked(std::int64_t start, std::int64_t end) const;
    void fillGapLocked(std::int64_t start, std::int64_t end, const std::uint8_t* bytes);
    void addRunLocked(std::int64_t start, std::int64_t end);
    void removeRunLocked(std::int64_t start, std::int64_t end);
    void makeRoomLocked(std::int64_t needed);
    // The spill file's way: drops the heads of runs before the discardable offset from the
    // runs, and returns them for their holes to be punched.
    Ranges dropFromFileLocked(std::int64_t needed);

    const std::int64_t capacity_;
    const std::unique_ptr<SparseFile> file_;
    // Held by a write to the spill file through its file I/O: writes never overlap, so the
    // holes one punches never meet the bytes another puts in. Taken before mutex_.
    std::mutex fileWriteMutex_;

    mutable std::mutex mutex_;
    Blocks blocks_;                       // guarded by mutex_; in memory only
    Runs runs_;                           // guarded by mutex_; the bytes present
    std::int64_t stored_ = 0;             // guarded by mutex_; bytes written
    std::int64_t allocated_ = 0;          // guarded by mutex_; bytes reserved, >= stored_
    std::int64_t contentLength_ = -1;     // guarded by mutex_
    std::int64_t discardableBefore_ = 0;  // guarded by mutex_
    Counters counters_;                   // guarded by mutex_
    // Counts the drops from the spill file: a read that sees it move may have read a hole.
    std::uint64_t fileDrops_ = 0;  // guarded by mutex_
};

}  // namespace pindle::platform
