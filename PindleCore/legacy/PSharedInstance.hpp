// PSharedInstance: the legacy API's process-wide shared instance, one per class: the first
// call for T creates it (default-constructed), every later call for T returns that same
// object, and it is never destroyed.
//
// Thread-safety: creation is once per class and safe from any thread; the instance's own
// thread-safety is T's.
#pragma once

namespace pindle::legacy {

template <class T>
T& sharedInstance() {
    static T* instance = new T();
    return *instance;
}

}  // namespace pindle::legacy
