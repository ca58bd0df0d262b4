#include "platform/media/MediaByteStore.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace pindle::platform {

std::int64_t MediaByteStore::endOf(const Blocks::value_type& block) {
    return block.first + block.second.size;
}

MediaByteStore::MediaByteStore(std::int64_t capacity) : capacity_(capacity) {}

MediaByteStore::Blocks::const_iterator MediaByteStore::blockContainingLocked(
    std::int64_t offset) const {
    auto it = blocks_.upper_bound(offset);
    if (it == blocks_.begin())
        return blocks_.end();
    --it;
    return offset < endOf(*it) ? it : blocks_.end();
}

std::int64_t MediaByteStore::runEndLocked(std::int64_t offset) const {
    auto it = runs_.upper_bound(offset);
    if (it == runs_.begin())
        return offset;
    --it;
    return offset < it->second ? it->second : offset;
}

void MediaByteStore::addRunLocked(std::int64_t start, std::int64_t end) {
    // [start, end) was missing: it may join the run ending at `start` and the one starting
    // at `end`.
    auto next = runs_.lower_bound(start);
    if (next != runs_.begin() && std::prev(next)->second == start) {
        --next;
        start = next->first;
        next = runs_.erase(next);
    }
    if (next != runs_.end() && next->first == end) {
        end = next->second;
        next = runs_.erase(next);
    }
    runs_.emplace_hint(next, start, end);
}

void MediaByteStore::removeRunLocked(std::int64_t start, std::int64_t end) {
    // [start, end) lies within one run: what is left of it on either side stays.
    auto it = std::prev(runs_.upper_bound(start));
    const auto [runStart, runEnd] = *it;
    it = runs_.erase(it);
    if (end < runEnd)
        it = runs_.emplace_hint(it, end, runEnd);
    if (runStart < start)
        runs_.emplace_hint(it, runStart, start);
}

std::vector<std::pair<std::int64_t, std::int64_t>> MediaByteStore::gapsLocked(
    std::int64_t start, std::int64_t end) const {
    std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
    auto it = blocks_.upper_bound(start);
    if (it != blocks_.begin() && endOf(*std::prev(it)) > start)
        --it;
    std::int64_t at = start;
    for (; it != blocks_.end() && it->first < end && at < end; ++it) {
        if (it->first > at)
            gaps.emplace_back(at, it->first);
        at = std::max(at, endOf(*it));
    }
    if (at < end)
        gaps.emplace_back(at, end);
    return gaps;
}

void MediaByteStore::fillGapLocked(std::int64_t start, std::int64_t end,
                                   const std::uint8_t* bytes) {
    addRunLocked(start, end);
    // The block ending at `start` may have room reserved for exactly these bytes. Nothing
    // lies in the gap, so whatever of that room the gap covers is free.
    auto next = blocks_.lower_bound(start);
    if (next != blocks_.begin()) {
        auto& [blockStart, block] = *std::prev(next);
        if (blockStart + block.size == start && block.reserved > block.size) {
            const std::int64_t count = std::min(end - start, block.reserved - block.size);
            std::memcpy(block.bytes.get() + block.size, bytes, static_cast<std::size_t>(count));
            block.size += count;
            start += count;
            bytes += count;
        }
    }
    if (start == end)
        return;
    // A block that continues another is the shape of a download arriving in order: give it
    // room for what will follow, short of the next block and of the resource's end.
    const bool continues = next != blocks_.begin() && endOf(*std::prev(next)) == start;
    std::int64_t reserved = end - start;
    // Reserved room counts against the capacity too, so that writes of a few bytes each cannot
    // make the store hold far more memory than bytes.
    if (continues && reserved < blockSize && allocated_ + blockSize <= capacity_) {
        reserved = blockSize;
        if (next != blocks_.end())
            reserved = std::min(reserved, next->first - start);
        if (contentLength_ >= 0)
            reserved = std::min(reserved, contentLength_ - start);
        reserved = std::max(reserved, end - start);
    }
    Block block;
    block.bytes =
        std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(reserved));
    block.size = end - start;
    block.reserved = reserved;
    allocated_ += reserved;
    std::memcpy(block.bytes.get(), bytes, static_cast<std::size_t>(block.size));
    blocks_.emplace_hint(next, start, std::move(block));
}

void MediaByteStore::makeRoomLocked(std::int64_t needed) {
    for (auto it = blocks_.begin(); it != blocks_.end() && stored_ + needed > capacity_;) {
        if (endOf(*it) > discardableBefore_)
            break;
        removeRunLocked(it->first, endOf(*it));
        stored_ -= it->second.size;
        allocated_ -= it->second.reserved;
        it = blocks_.erase(it);
    }
}

bool MediaByteStore::write(std::int64_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (offset < 0 || size == 0)
        return false;
    std::lock_guard lock(mutex_);
    auto length = static_cast<std::int64_t>(size);
    if (contentLength_ >= 0) {
        if (offset >= contentLength_)
            return false;
        length = std::min(length, contentLength_ - offset);
    }
    const std::int64_t end = offset + length;
    auto gaps = gapsLocked(offset, end);
    std::int64_t growth = 0;
    for (auto [start, stop] : gaps) growth += stop - start;
    counters_.handed += length;
    counters_.repeated += length - growth;
    if (stored_ + growth > capacity_) {
        makeRoomLocked(growth);
        // Dropped blocks may have opened new gaps in the range.
        gaps = gapsLocked(offset, end);
        growth = 0;
        for (auto [start, stop] : gaps) growth += stop - start;
        if (stored_ + growth > capacity_)
            return false;
    }
    for (auto [start, stop] : gaps) fillGapLocked(start, stop, bytes + (start - offset));
    stored_ += growth;
    return true;
}

bool MediaByteStore::present(std::int64_t offset, std::int64_t size) const {
    if (size <= 0)
        return true;
    std::lock_guard lock(mutex_);
    return runEndLocked(offset) >= offset + size;
}

std::size_t MediaByteStore::read(std::int64_t offset, std::uint8_t* buffer, std::size_t max) const {
    std::lock_guard lock(mutex_);
    auto it = blockContainingLocked(offset);
    std::size_t copied = 0;
    while (it != blocks_.end() && copied < max && it->first <= offset) {
        const auto count =
            std::min<std::int64_t>(static_cast<std::int64_t>(max - copied), endOf(*it) - offset);
        std::memcpy(buffer + copied, it->second.bytes.get() + (offset - it->first),
                    static_cast<std::size_t>(count));
        copied += static_cast<std::size_t>(count);
        offset += count;
        ++it;
    }
    return copied;
}

std::optional<std::int64_t> MediaByteStore::firstMissing(std::int64_t from) const {
    std::lock_guard lock(mutex_);
    const std::int64_t missing = runEndLocked(from);
    if (contentLength_ >= 0 && missing >= contentLength_)
        return std::nullopt;
    return missing;
}

void MediaByteStore::setContentLength(std::int64_t length) {
    std::lock_guard lock(mutex_);
    contentLength_ = length;
}

std::int64_t MediaByteStore::contentLength() const {
    std::lock_guard lock(mutex_);
    return contentLength_;
}

void MediaByteStore::setDiscardableBefore(std::int64_t offset) {
    std::lock_guard lock(mutex_);
    discardableBefore_ = offset;
}

std::int64_t MediaByteStore::bytesStored() const {
    std::lock_guard lock(mutex_);
    return stored_;
}

MediaByteStore::Counters MediaByteStore::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::vector<std::pair<std::int64_t, std::int64_t>> MediaByteStore::runs() const {
    std::lock_guard lock(mutex_);
    return {runs_.begin(), runs_.end()};
}

}  // namespace pindle::platform
