#include "platform/media/MediaByteStore.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace pindle::platform {

namespace {
std::int64_t endOf(const std::pair<const std::int64_t, std::vector<std::uint8_t>>& run) {
    return run.first + static_cast<std::int64_t>(run.second.size());
}
}  // namespace

MediaByteStore::MediaByteStore(std::int64_t capacity) : capacity_(capacity) {}

MediaByteStore::Runs::const_iterator MediaByteStore::runContainingLocked(
    std::int64_t offset) const {
    auto it = runs_.upper_bound(offset);
    if (it == runs_.begin())
        return runs_.end();
    --it;
    return offset < endOf(*it) ? it : runs_.end();
}

void MediaByteStore::makeRoomLocked(std::int64_t needed) {
    for (auto it = runs_.begin(); it != runs_.end() && stored_ + needed > capacity_;) {
        if (endOf(*it) > discardableBefore_)
            break;
        stored_ -= static_cast<std::int64_t>(it->second.size());
        it = runs_.erase(it);
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
    std::int64_t start = offset;
    std::int64_t end = offset + length;
    // The merged run spans every run that overlaps or touches [start, end).
    auto first = runs_.upper_bound(start);
    if (first != runs_.begin() && endOf(*std::prev(first)) >= start)
        --first;
    auto last = first;
    while (last != runs_.end() && last->first <= end) ++last;
    if (first != last) {
        start = std::min(start, first->first);
        end = std::max(end, endOf(*std::prev(last)));
    }
    std::int64_t absorbed = 0;
    for (auto it = first; it != last; ++it)
        absorbed += static_cast<std::int64_t>(it->second.size());
    const std::int64_t growth = (end - start) - absorbed;
    if (stored_ + growth > capacity_) {
        makeRoomLocked(growth);
        if (stored_ + growth > capacity_)
            return false;
        // Dropping runs may have invalidated the iterators.
        first = runs_.upper_bound(start);
        if (first != runs_.begin() && endOf(*std::prev(first)) >= start)
            --first;
        last = first;
        while (last != runs_.end() && last->first <= end) ++last;
    }
    std::vector<std::uint8_t> merged(static_cast<std::size_t>(end - start));
    for (auto it = first; it != last; ++it)
        std::memcpy(merged.data() + (it->first - start), it->second.data(), it->second.size());
    std::memcpy(merged.data() + (offset - start), bytes, static_cast<std::size_t>(length));
    runs_.erase(first, last);
    stored_ += growth;
    runs_.emplace(start, std::move(merged));
    return true;
}

bool MediaByteStore::present(std::int64_t offset, std::int64_t size) const {
    if (size <= 0)
        return true;
    std::lock_guard lock(mutex_);
    const auto it = runContainingLocked(offset);
    return it != runs_.end() && offset + size <= endOf(*it);
}

std::size_t MediaByteStore::read(std::int64_t offset, std::uint8_t* buffer, std::size_t max) const {
    std::lock_guard lock(mutex_);
    const auto it = runContainingLocked(offset);
    if (it == runs_.end())
        return 0;
    const auto count = std::min<std::int64_t>(static_cast<std::int64_t>(max), endOf(*it) - offset);
    std::memcpy(buffer, it->second.data() + (offset - it->first), static_cast<std::size_t>(count));
    return static_cast<std::size_t>(count);
}

std::optional<std::int64_t> MediaByteStore::firstMissing(std::int64_t from) const {
    std::lock_guard lock(mutex_);
    const auto it = runContainingLocked(from);
    const std::int64_t missing = it == runs_.end() ? from : endOf(*it);
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

std::vector<std::pair<std::int64_t, std::int64_t>> MediaByteStore::runs() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::int64_t, std::int64_t>> result;
    for (const auto& run : runs_) result.emplace_back(run.first, endOf(run));
    return result;
}

}  // namespace pindle::platform
