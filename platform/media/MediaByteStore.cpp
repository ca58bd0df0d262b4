#include "platform/media/MediaByteStore.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/media/private/SparseFile.hpp"

namespace pindle::platform {

std::int64_t MediaByteStore::endOf(const Blocks::value_type& block) {
    return block.first + block.second.size;
}

MediaByteStore::MediaByteStore(std::int64_t capacity, const std::string& spillFolder)
    : capacity_(capacity), file_(spillFolder.empty() ? nullptr : SparseFile::create(spillFolder)) {}

MediaByteStore::~MediaByteStore() = default;

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

MediaByteStore::Ranges MediaByteStore::gapsLocked(std::int64_t start, std::int64_t end) const {
    Ranges gaps;
    auto it = runs_.upper_bound(start);
    if (it != runs_.begin() && std::prev(it)->second > start)
        --it;
    std::int64_t at = start;
    for (; it != runs_.end() && it->first < end && at < end; ++it) {
        if (it->first > at)
            gaps.emplace_back(at, it->first);
        at = std::max(at, it->second);
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

std::int64_t MediaByteStore::sizeOf(const Ranges& ranges) {
    std::int64_t size = 0;
    for (auto [start, stop] : ranges) size += stop - start;
    return size;
}

std::optional<MediaByteStore::Plan> MediaByteStore::planLocked(std::int64_t offset,
                                                               std::size_t size) {
    auto length = static_cast<std::int64_t>(size);
    if (contentLength_ >= 0) {
        if (offset >= contentLength_)
            return std::nullopt;
        length = std::min(length, contentLength_ - offset);
    }
    const std::int64_t end = offset + length;
    Plan plan;
    plan.gaps = gapsLocked(offset, end);
    counters_.handed += length;
    counters_.repeated += length - sizeOf(plan.gaps);
    if (stored_ + sizeOf(plan.gaps) > capacity_) {
        if (file_)
            plan.dropped = dropFromFileLocked(sizeOf(plan.gaps));
        else
            makeRoomLocked(sizeOf(plan.gaps));
        // Dropped bytes may have opened new gaps in the range.
        plan.gaps = gapsLocked(offset, end);
    }
    plan.fits = stored_ + sizeOf(plan.gaps) <= capacity_;
    return plan;
}

bool MediaByteStore::write(std::int64_t offset, const std::uint8_t* bytes, std::size_t size) {
    if (offset < 0 || size == 0)
        return false;
    if (file_)
        return writeToFile(offset, bytes, size);
    std::lock_guard lock(mutex_);
    const auto plan = planLocked(offset, size);
    if (!plan || !plan->fits)
        return false;
    for (auto [start, stop] : plan->gaps) fillGapLocked(start, stop, bytes + (start - offset));
    stored_ += sizeOf(plan->gaps);
    return true;
}

bool MediaByteStore::writeToFile(std::int64_t offset, const std::uint8_t* bytes, std::size_t size) {
    std::lock_guard writing(fileWriteMutex_);
    std::optional<Plan> plan;
    {
        std::lock_guard lock(mutex_);
        plan = planLocked(offset, size);
    }
    if (!plan)
        return false;
    // Outside the lock: nothing reads a dropped range any more, and a gap is read only once
    // it is added below. Only this write adds or drops bytes meanwhile.
    for (auto [start, stop] : plan->dropped) file_->punch(start, stop);
    if (!plan->fits)
        return false;
    Ranges written;
    for (auto [start, stop] : plan->gaps)
        if (file_->write(start, bytes + (start - offset), static_cast<std::size_t>(stop - start)))
            written.emplace_back(start, stop);
    std::lock_guard lock(mutex_);
    for (auto [start, stop] : written) addRunLocked(start, stop);
    stored_ += sizeOf(written);
    return written.size() == plan->gaps.size();
}

MediaByteStore::Ranges MediaByteStore::dropFromFileLocked(std::int64_t needed) {
    Ranges dropped;
    while (!runs_.empty() && stored_ + needed > capacity_) {
        const auto [start, runEnd] = *runs_.begin();
        const std::int64_t end = std::min(runEnd, discardableBefore_);
        if (end <= start)
            break;
        removeRunLocked(start, end);
        stored_ -= end - start;
        dropped.emplace_back(start, end);
    }
    if (!dropped.empty())
        ++fileDrops_;
    return dropped;
}

std::size_t MediaByteStore::readFromFile(std::int64_t offset, std::uint8_t* buffer,
                                         std::size_t max) const {
    for (;;) {
        std::int64_t count = 0;
        std::uint64_t drops = 0;
        {
            std::lock_guard lock(mutex_);
            count = std::min(static_cast<std::int64_t>(max), runEndLocked(offset) - offset);
            drops = fileDrops_;
        }
        if (count <= 0)
            return 0;
        const std::size_t read = file_->read(offset, buffer, static_cast<std::size_t>(count));
        std::lock_guard lock(mutex_);
        if (drops == fileDrops_)
            return read;
        // Bytes were dropped while this read ran, and their holes may have been read: what is
        // still present is read again.
    }
}

bool MediaByteStore::present(std::int64_t offset, std::int64_t size) const {
    if (size <= 0)
        return true;
    std::lock_guard lock(mutex_);
    return runEndLocked(offset) >= offset + size;
}

std::size_t MediaByteStore::read(std::int64_t offset, std::uint8_t* buffer, std::size_t max) const {
    if (file_)
        return readFromFile(offset, buffer, max);
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
