// WeakDelegate: a delegate (or any collaborator) held weakly, set and read from any thread:
// the field, its lock and the getter/setter pair every class with a weak delegate would
// otherwise write by hand.
//
//     void setDelegate(std::weak_ptr<FooDelegate> d) { delegate_.set(std::move(d)); }
//     std::shared_ptr<FooDelegate> delegate() const { return delegate_.get(); }
//   private:
//     platform::WeakDelegate<FooDelegate> delegate_;
//
// get() hands out a strong reference for the call about to be made; callers call it with no
// lock of their own held, as they would any delegate.
//
// Thread-safety: set and get may race freely; its lock is a leaf (nothing is called under it).
#pragma once

#include <memory>
#include <mutex>

namespace pindle::platform {

template <class T>
class WeakDelegate {
  public:
    WeakDelegate() = default;
    WeakDelegate(const WeakDelegate&) = delete;
    WeakDelegate& operator=(const WeakDelegate&) = delete;

    void set(std::weak_ptr<T> delegate) {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }

    // The delegate, or null when none was set or it has gone.
    std::shared_ptr<T> get() const {
        std::lock_guard lock(mutex_);
        return delegate_.lock();
    }

    // The weak reference itself, for work that captures it and locks later.
    std::weak_ptr<T> weak() const {
        std::lock_guard lock(mutex_);
        return delegate_;
    }

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<T> delegate_;  // guarded by mutex_
};

}  // namespace pindle::platform
