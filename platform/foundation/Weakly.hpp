// weakly: a callable that runs its body with an object only while something else still owns
// that object: the hop asynchronous code makes when it queues work or registers a handler that
// must neither keep its object alive nor run after it is gone. In place of
//
//     std::weak_ptr<Foo> weak = weak_from_this();
//     queue_->async([weak, x] {
//         auto self = weak.lock();
//         if (!self)
//             return;
//         self->step(x);
//     });
//
// write
//
//     queue_->async(platform::weakly(this, [x](Foo& self) { self.step(x); }));
//
// The body gets the object, kept alive for the call, then the callable's own arguments; what
// it returns is dropped, as a hop has no result.
//
// Thread-safety: the callable may run on any thread; the body runs on the caller's.
#pragma once

#include <memory>
#include <utility>

namespace pindle::platform {

// REQUIRES: `object` is owned by a std::shared_ptr (it derives from enable_shared_from_this).
template <class T, class Body>
auto weakly(T* object, Body body) {
    // The aliasing constructor keeps the derived type when enable_shared_from_this sits on a
    // base class.
    std::weak_ptr<T> weak = std::shared_ptr<T>(object->shared_from_this(), object);
    return [weak = std::move(weak), body = std::move(body)](auto&&... args) mutable {
        if (std::shared_ptr<T> strong = weak.lock())
            body(*strong, std::forward<decltype(args)>(args)...);
    };
}

// From a weak reference already held: for a thread that must never hold the object even for
// a moment (its last release there would run the destructor on the wrong thread).
template <class T, class Body>
auto weakly(std::weak_ptr<T> object, Body body) {
    return [weak = std::move(object), body = std::move(body)](auto&&... args) mutable {
        if (std::shared_ptr<T> strong = weak.lock())
            body(*strong, std::forward<decltype(args)>(args)...);
    };
}

template <class T, class Body>
auto weakly(const std::shared_ptr<T>& object, Body body) {
    return weakly(std::weak_ptr<T>(object), std::move(body));
}

}  // namespace pindle::platform
