// Object: the common polymorphic root of the SDK's reference types.
//
// The phone platform has a root object class that every record, playlist and service
// derives from, and code there tests class membership at run time ("is this argument an
// instance of the token class?"). Here that is a plain polymorphic base shared through
// std::shared_ptr; a membership test is a dynamic_cast / dynamic_pointer_cast.
//
// Thread-safety: Object itself holds no state; subclasses document their own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace pindle::platform {

class Object : public std::enable_shared_from_this<Object> {
  public:
    Object() = default;
    virtual ~Object() = default;

    // The platform object's hash; by default the object's identity.
    virtual std::size_t hash() const;

    // A human-readable description used in logs; by default the dynamic type's name
    // and address.
    virtual std::string description() const;

  protected:
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;
};

using ObjectPtr = std::shared_ptr<Object>;

// True when `object` is an instance of T (or of a subclass of T).
template <class T>
bool isKindOf(const std::shared_ptr<Object>& object) {
    return dynamic_cast<const T*>(object.get()) != nullptr;
}

}  // namespace pindle::platform
