// Key-value observing: observation of an object's properties by key path.
//
// An observable object names its properties by string keys, answers their current values
// through valueForKey(), and brackets every change of one with willChangeValueForKey() and
// didChangeValueForKey(). Observers register a handler for a key path with observe() and
// get back a KeyValueObservation, which is both the token that removes the observation and
// the context that tells one observation from another.
//
// A dotted path ("currentItem.status") resolves through object-valued keys. When an
// intermediate object is replaced (or set to none), the observation moves to the new one
// and the handler runs for the path as a whole; changes of the old intermediate are no
// longer seen.
//
// Delivery: handlers run synchronously on the thread that announces the change, from a
// snapshot of the registered observations taken under the object's mutex and released
// before any handler runs, so a handler may observe, remove or change anything (including
// the object it was told about). With the `initial` option the first delivery happens
// inside observe(), before it returns. An observation stays registered until it is
// invalidated, removed through the observed object, or the observed object is destroyed;
// dropping the returned pointer does not end it.
//
// Thread-safety: all public operations are safe from any thread. Announcements of one key
// made from several threads at once may interleave; an object whose announcements must
// stay in order makes its changes on one serial queue.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform {

// What a delivery carries; combine with `|` into the `options` of observe().
enum class KVOOption : unsigned { newValue = 1, oldValue = 2, initial = 4, prior = 8 };

constexpr unsigned operator|(KVOOption a, KVOOption b) {
    return static_cast<unsigned>(a) | static_cast<unsigned>(b);
}
constexpr unsigned operator|(unsigned a, KVOOption b) {
    return a | static_cast<unsigned>(b);
}

class KeyValueObservable;
class KeyValueObservation;

struct KVOChange {
    std::string keyPath;
    // The object observe() was called on; null when it is being destroyed.
    ObjectPtr object;
    // Filled only when the matching option was asked for. newValue is null in a prior
    // delivery; oldValue is null in the initial one.
    Value newValue;
    Value oldValue;
    // True for the delivery made before the change (option `prior`).
    bool isPrior = false;
    // The observation delivering, so a handler shared by several can tell them apart
    // (also during the initial delivery, before observe() has returned it).
    std::shared_ptr<KeyValueObservation> observation;
};

using KVOHandler = std::function<void(const KVOChange&)>;

class KeyValueObservation : public Object {
  public:
    struct Key {};  // construction is reserved to KeyValueObservable::observe
    KeyValueObservation(Key, std::weak_ptr<KeyValueObservable> root, std::string keyPath,
                        unsigned options, KVOHandler handler);
    ~KeyValueObservation() override;
    KeyValueObservation(const KeyValueObservation&) = delete;
    KeyValueObservation& operator=(const KeyValueObservation&) = delete;

    // Stops delivery and unhooks from every object on the path; idempotent. A delivery
    // already running on another thread may still finish.
    void invalidate();
    bool isValid() const;
    const std::string& keyPath() const { return keyPath_; }

  private:
    friend class KeyValueObservable;

    enum class Phase { will, did };
    // Called by the object hooked at `level` of the path when that level's key changes.
    void levelChanged(std::size_t level, Phase phase);
    // Hooks levels from `level` on to the objects the path resolves to now.
    void rehookFrom(std::size_t level);
    std::shared_ptr<KeyValueObservable> root() const { return root_.lock(); }
    Value currentValue() const;
    void deliver(KVOChange change);

    const std::weak_ptr<KeyValueObservable> root_;
    const KeyValueObservable* const rootAddress_;
    const std::string keyPath_;
    const std::vector<std::string> keys_;
    const unsigned options_;
    const KVOHandler handler_;

    // Serialises re-hooking, so two threads cannot hook one level twice.
    std::mutex hookMutex_;
    mutable std::mutex mutex_;
    bool valid_ = true;                                      // guarded by mutex_
    std::vector<std::weak_ptr<KeyValueObservable>> hooked_;  // guarded by mutex_; per level
    std::vector<Value> pendingOld_;                          // guarded by mutex_; nested wills
};

using KeyValueObservationPtr = std::shared_ptr<KeyValueObservation>;

class KeyValueObservable : public Object {
  public:
    KeyValueObservable() = default;
    ~KeyValueObservable() override;
    KeyValueObservable(const KeyValueObservable&) = delete;
    KeyValueObservable& operator=(const KeyValueObservable&) = delete;

    // Registers `handler` for `keyPath`. REQUIRES: the object is owned by a shared_ptr.
    KeyValueObservationPtr observe(std::string keyPath, unsigned options, KVOHandler handler);
    // Ends an observation made on this object; one that is unknown, made on another object
    // or already removed is ignored.
    void removeObservation(const KeyValueObservationPtr& observation);

    // The current value of `key`. The base answers the keys of the ObservableProperty
    // members registered with it, and null for any other; subclasses with computed keys
    // override it and fall back to the base.
    virtual Value valueForKey(std::string_view key) const;
    // Follows a dotted path through object-valued keys; null where it breaks off.
    Value valueForKeyPath(std::string_view path) const;

    // Announce a change of `key`. Public so that helpers and owned parts can announce for
    // the object; a subclass normally calls them from its setters, outside its own locks.
    // didChangeValueForKey announces even when the new value equals the old one. Subclasses
    // that act on their own announcements override them and call the base first.
    virtual void willChangeValueForKey(std::string_view key);
    virtual void didChangeValueForKey(std::string_view key);

  private:
    template <class T>
    friend class ObservableProperty;
    friend class KeyValueObservation;

    struct Hook {
        std::string key;
        std::shared_ptr<KeyValueObservation> observation;
        std::size_t level;
    };
    struct Property {
        std::string key;
        const void* owner;
        std::function<Value()> read;
    };

    void announce(std::string_view key, KeyValueObservation::Phase phase);
    void addHook(std::string key, std::shared_ptr<KeyValueObservation> observation,
                 std::size_t level);
    void removeHook(const KeyValueObservation* observation, std::size_t level);
    void registerProperty(std::string key, const void* owner, std::function<Value()> read);
    void unregisterProperty(const void* owner);

    mutable std::mutex mutex_;
    std::vector<Hook> hooks_;           // guarded by mutex_
    std::vector<Property> properties_;  // guarded by mutex_
};

using KeyValueObservablePtr = std::shared_ptr<KeyValueObservable>;

// How a property's value becomes a Value. Types Value does not know provide a
// `Value toKVOValue(const T&)` found by argument-dependent lookup.
template <class T>
Value kvoValueOf(const T& value) {
    if constexpr (std::is_enum_v<T>) {
        return Value(static_cast<long long>(value));
    } else if constexpr (std::is_constructible_v<Value, const T&>) {
        return Value(value);
    } else {
        return toKVOValue(value);
    }
}

// A stored property of a KeyValueObservable that announces its own changes: set() brackets
// the write with will/did, and the owner's valueForKey answers its key without an override.
// Declare it as a member of the owner: `ObservableProperty<bool> ready_{*this, "isReady"};`.
//
// Thread-safety: get and set are safe from any thread; the value has its own mutex, which
// is never held while announcing.
template <class T>
class ObservableProperty {
  public:
    ObservableProperty(KeyValueObservable& owner, std::string key, T initial = T{})
        : owner_(owner), key_(std::move(key)), value_(std::move(initial)) {
        owner_.registerProperty(key_, this, [this] { return kvoValueOf(get()); });
    }
    ~ObservableProperty() { owner_.unregisterProperty(this); }
    ObservableProperty(const ObservableProperty&) = delete;
    ObservableProperty& operator=(const ObservableProperty&) = delete;

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    // Writes and announces, even when the value is unchanged.
    void set(T value) {
        owner_.willChangeValueForKey(key_);
        {
            std::lock_guard lock(mutex_);
            value_ = std::move(value);
        }
        owner_.didChangeValueForKey(key_);
    }
    // Writes and announces only when the value differs; true when it did.
    bool setIfChanged(T value) requires std::equality_comparable<T> {
        if (get() == value) {
            return false;
        }
        set(std::move(value));
        return true;
    }
    const std::string& key() const { return key_; }

  private:
    KeyValueObservable& owner_;
    const std::string key_;
    mutable std::mutex mutex_;
    T value_;  // guarded by mutex_
};

}  // namespace pindle::platform
