// MediaByteStore: the sparse copy of a media resource that a player item keeps while bytes
// arrive out of order from its resource loader. Adjacent and overlapping runs are merged, so
// the store is a sorted list of disjoint runs; readers take only bytes that are present and
// never wait for the rest.
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
#include <mutex>
#include <optional>
#include <vector>

namespace pindle::platform {

class MediaByteStore {
  public:
    static constexpr std::int64_t defaultCapacity = 512LL * 1024 * 1024;

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
    // The present runs as [start, end) pairs, in order.
    std::vector<std::pair<std::int64_t, std::int64_t>> runs() const;

  private:
    using Runs = std::map<std::int64_t, std::vector<std::uint8_t>>;  // start -> bytes
    Runs::const_iterator runContainingLocked(std::int64_t offset) const;
    void makeRoomLocked(std::int64_t needed);

    const std::int64_t capacity_;

    mutable std::mutex mutex_;
    Runs runs_;                           // guarded by mutex_
    std::int64_t stored_ = 0;             // guarded by mutex_
    std::int64_t contentLength_ = -1;     // guarded by mutex_
    std::int64_t discardableBefore_ = 0;  // guarded by mutex_
};

}  // namespace pindle::platform
