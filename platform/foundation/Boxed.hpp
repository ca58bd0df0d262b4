// Boxed<T>: a plain value wrapped in an Object, so that values Value has no shape for
// (media times, time ranges) can ride in a Value, an Array or a notification's user info.
// Read it back with `value.asObjectOf<Boxed<T>>()`.
//
// Thread-safety: immutable once made.
#pragma once

#include <memory>
#include <utility>

#include "platform/foundation/Object.hpp"

namespace pindle::platform {

template <class T>
class Boxed : public Object {
  public:
    explicit Boxed(T value) : value_(std::move(value)) {}
    static std::shared_ptr<Boxed> make(T value) {
        return std::make_shared<Boxed>(std::move(value));
    }
    const T& value() const { return value_; }

  private:
    const T value_;
};

}  // namespace pindle::platform
