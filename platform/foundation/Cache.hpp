// Cache: a map that any thread may read and change, for values that can be made again when
// dropped (thumbnails, decoded pictures). Unlike a plain map it can be emptied at once, as
// a memory warning asks.
//
// Thread-safety: every operation is safe from any thread; each is atomic on its own. No
// callbacks.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>

namespace pindle::platform {

template <class Key, class Value>
class Cache {
  public:
    Cache() = default;
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    std::optional<Value> object(const Key& key) const {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(key);
        if (found == entries_.end())
            return std::nullopt;
        return found->second;
    }
    bool contains(const Key& key) const {
        std::lock_guard lock(mutex_);
        return entries_.count(key) != 0;
    }
    void setObject(Value value, const Key& key) {
        std::lock_guard lock(mutex_);
        entries_.insert_or_assign(key, std::move(value));
    }
    void removeObject(const Key& key) {
        std::lock_guard lock(mutex_);
        entries_.erase(key);
    }
    void removeAll() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::map<Key, Value> entries_;  // guarded by mutex_
};

}  // namespace pindle::platform
