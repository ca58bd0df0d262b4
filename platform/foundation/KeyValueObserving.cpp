#include "platform/foundation/KeyValueObserving.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace pindle::platform {

namespace {

constexpr unsigned wantsOld =
    static_cast<unsigned>(KVOOption::oldValue) | static_cast<unsigned>(KVOOption::prior);

bool has(unsigned options, KVOOption option) {
    return (options & static_cast<unsigned>(option)) != 0;
}

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (true) {
        const auto dot = path.find('.', start);
        keys.emplace_back(
            path.substr(start, dot == std::string_view::npos ? path.npos : dot - start));
        if (dot == std::string_view::npos) {
            return keys;
        }
        start = dot + 1;
    }
}

}  // namespace

// ---- KeyValueObservation

KeyValueObservation::KeyValueObservation(Key, std::weak_ptr<KeyValueObservable> root,
                                         std::string keyPath, unsigned options, KVOHandler handler)
    : root_(std::move(root)),
      rootAddress_(root_.lock().get()),
      keyPath_(std::move(keyPath)),
      keys_(splitPath(keyPath_)),
      options_(options),
      handler_(std::move(handler)),
      hooked_(keys_.size()),
      pendingOld_(keys_.size()) {}

KeyValueObservation::~KeyValueObservation() = default;

bool KeyValueObservation::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

void KeyValueObservation::invalidate() {
    std::vector<std::weak_ptr<KeyValueObservable>> hooked;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) {
            return;
        }
        valid_ = false;
        hooked.swap(hooked_);
    }
    for (std::size_t level = 0; level < hooked.size(); ++level) {
        if (auto object = hooked[level].lock()) {
            object->removeHook(this, level);
        }
    }
}

Value KeyValueObservation::currentValue() const {
    const auto object = root();
    return object ? object->valueForKeyPath(keyPath_) : Value();
}

void KeyValueObservation::rehookFrom(std::size_t level) {
    const auto self = std::static_pointer_cast<KeyValueObservation>(shared_from_this());
    std::lock_guard serial(hookMutex_);

    std::shared_ptr<KeyValueObservable> object;
    if (level == 0) {
        object = root();
    } else {
        std::shared_ptr<KeyValueObservable> parent;
        {
            std::lock_guard lock(mutex_);
            parent = hooked_.empty() ? nullptr : hooked_[level - 1].lock();
        }
        if (parent) {
            object = parent->valueForKey(keys_[level - 1]).asObjectOf<KeyValueObservable>();
        }
    }
    // Resolve the rest of the chain before touching any hook.
    std::vector<std::shared_ptr<KeyValueObservable>> fresh;
    for (std::size_t j = level; j < keys_.size(); ++j) {
        fresh.push_back(object);
        if (object && j + 1 < keys_.size()) {
            object = object->valueForKey(keys_[j]).asObjectOf<KeyValueObservable>();
        } else {
            object = nullptr;
        }
    }

    std::vector<std::weak_ptr<KeyValueObservable>> stale;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) {
            return;
        }
        for (std::size_t j = level; j < keys_.size(); ++j) {
            stale.push_back(std::exchange(hooked_[j], fresh[j - level]));
        }
    }
    for (std::size_t j = level; j < keys_.size(); ++j) {
        if (auto old = stale[j - level].lock()) {
            old->removeHook(this, j);
        }
        if (const auto& now = fresh[j - level]) {
            now->addHook(keys_[j], self, j);
        }
    }
    // An invalidate() that ran meanwhile saw the new objects before they were hooked.
    if (!isValid()) {
        for (std::size_t j = level; j < keys_.size(); ++j) {
            if (const auto& now = fresh[j - level]) {
                now->removeHook(this, j);
            }
        }
    }
}

void KeyValueObservation::levelChanged(std::size_t level, Phase phase) {
    if (!isValid()) {
        return;
    }
    const auto object = root();
    if (!object) {
        invalidate();
        return;
    }
    if (phase == Phase::will) {
        if ((options_ & wantsOld) == 0) {
            return;
        }
        Value old = currentValue();
        {
            std::lock_guard lock(mutex_);
            pendingOld_[level] = old;
        }
        if (has(options_, KVOOption::prior)) {
            deliver(KVOChange{keyPath_, object, Value(),
                              has(options_, KVOOption::oldValue) ? old : Value(), true, nullptr});
        }
        return;
    }

    if (level + 1 < keys_.size()) {
        rehookFrom(level + 1);
    }
    Value old;
    if ((options_ & wantsOld) != 0) {
        std::lock_guard lock(mutex_);
        old = std::exchange(pendingOld_[level], Value());
    }
    deliver(
        KVOChange{keyPath_, object, has(options_, KVOOption::newValue) ? currentValue() : Value(),
                  has(options_, KVOOption::oldValue) ? std::move(old) : Value(), false, nullptr});
}

void KeyValueObservation::deliver(KVOChange change) {
    if (!handler_ || !isValid()) {
        return;
    }
    change.observation = std::static_pointer_cast<KeyValueObservation>(shared_from_this());
    handler_(change);
}

// ---- KeyValueObservable

KeyValueObservable::~KeyValueObservable() {
    std::vector<std::shared_ptr<KeyValueObservation>> rooted;
    {
        std::lock_guard lock(mutex_);
        for (auto& hook : hooks_) {
            if (hook.observation->rootAddress_ == this) {
                rooted.push_back(hook.observation);
            }
        }
    }
    // Observations made on this object cannot deliver any more; unhook them from the
    // intermediates they reach, which may outlive it.
    for (const auto& observation : rooted) {
        observation->invalidate();
    }
}

KeyValueObservationPtr KeyValueObservable::observe(std::string keyPath, unsigned options,
                                                   KVOHandler handler) {
    // An observable no shared_ptr owns hands out an observation already invalid.
    auto self = std::static_pointer_cast<KeyValueObservable>(weak_from_this().lock());
    auto observation = std::make_shared<KeyValueObservation>(
        KeyValueObservation::Key{}, self, std::move(keyPath), options, std::move(handler));
    if (!self) {
        observation->invalidate();
        return observation;
    }
    observation->rehookFrom(0);
    if (has(options, KVOOption::initial)) {
        observation->deliver(
            KVOChange{observation->keyPath(), self,
                      has(options, KVOOption::newValue) ? observation->currentValue() : Value(),
                      Value(), false, nullptr});
    }
    return observation;
}

void KeyValueObservable::removeObservation(const KeyValueObservationPtr& observation) {
    if (observation && observation->rootAddress_ == this) {
        observation->invalidate();
    }
}

Value KeyValueObservable::valueForKey(std::string_view key) const {
    std::function<Value()> read;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(properties_.begin(), properties_.end(),
                                        [&](const Property& p) { return p.key == key; });
        if (found == properties_.end()) {
            return Value();
        }
        read = found->read;
    }
    return read();
}

Value KeyValueObservable::valueForKeyPath(std::string_view path) const {
    const auto keys = splitPath(path);
    Value value = valueForKey(keys.front());
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const auto object = value.asObjectOf<KeyValueObservable>();
        if (!object) {
            return Value();
        }
        value = object->valueForKey(keys[i]);
    }
    return value;
}

void KeyValueObservable::willChangeValueForKey(std::string_view key) {
    announce(key, KeyValueObservation::Phase::will);
}

void KeyValueObservable::didChangeValueForKey(std::string_view key) {
    announce(key, KeyValueObservation::Phase::did);
}

void KeyValueObservable::announce(std::string_view key, KeyValueObservation::Phase phase) {
    std::vector<std::pair<std::shared_ptr<KeyValueObservation>, std::size_t>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& hook : hooks_) {
            if (hook.key == key) {
                targets.emplace_back(hook.observation, hook.level);
            }
        }
    }
    for (const auto& [observation, level] : targets) {
        observation->levelChanged(level, phase);
    }
}

void KeyValueObservable::addHook(std::string key, std::shared_ptr<KeyValueObservation> observation,
                                 std::size_t level) {
    std::lock_guard lock(mutex_);
    hooks_.push_back(Hook{std::move(key), std::move(observation), level});
}

void KeyValueObservable::removeHook(const KeyValueObservation* observation, std::size_t level) {
    std::vector<Hook> removed;  // released after the lock: it may hold the last reference
    std::lock_guard lock(mutex_);
    for (auto it = hooks_.begin(); it != hooks_.end();) {
        if (it->observation.get() == observation && it->level == level) {
            removed.push_back(std::move(*it));
            it = hooks_.erase(it);
        } else {
            ++it;
        }
    }
}

void KeyValueObservable::registerProperty(std::string key, const void* owner,
                                          std::function<Value()> read) {
    std::lock_guard lock(mutex_);
    properties_.push_back(Property{std::move(key), owner, std::move(read)});
}

void KeyValueObservable::unregisterProperty(const void* owner) {
    std::lock_guard lock(mutex_);
    std::erase_if(properties_, [&](const Property& p) { return p.owner == owner; });
}

}  // namespace pindle::platform
