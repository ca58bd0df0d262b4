// PNInstalled<T>: the slot of one collaborator that a folder calls and a folder above it
// installs as the library loads. Folders of the core include only folders below their own, so
// where a lower type has to reach a higher one (the session, the sync service, the uploads), it
// declares what it needs as a small interface beside itself and reads it from a slot like this
// one; the higher folder installs its implementation from a static initialiser of its own.
// Before that, during static initialisation only, the slot holds what it was made with.
//
// Slots are made with `new` and never destroyed: a collaborator may still be reached while
// other statics are torn down at exit.
//
// Thread-safety: install() and get() may be called from any thread; get() returns the
// collaborator with no lock held, so a caller never calls out under the slot's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace pindle {

template <class T>
class PNInstalled {
  public:
    explicit PNInstalled(std::shared_ptr<const T> initial = nullptr)
        : collaborator_(std::move(initial)) {}
    PNInstalled(const PNInstalled&) = delete;
    PNInstalled& operator=(const PNInstalled&) = delete;

    std::shared_ptr<const T> get() const {
        std::lock_guard lock(mutex_);
        return collaborator_;
    }
    // A null collaborator leaves the one installed in place.
    void install(std::shared_ptr<const T> collaborator) {
        if (!collaborator)
            return;
        std::lock_guard lock(mutex_);
        collaborator_ = std::move(collaborator);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const T> collaborator_;  // guarded by mutex_
};

// A slot whose collaborator is one function that answers nothing: call() does nothing until
// one is installed.
template <class Signature>
class PNInstalledFunction;

template <class... Args>
class PNInstalledFunction<void(Args...)> {
  public:
    using Function = std::function<void(Args...)>;

    // An empty function leaves the installed one in place.
    void install(Function function) {
        if (function)
            slot_.install(std::make_shared<const Function>(std::move(function)));
    }
    void call(Args... args) const {
        if (auto function = slot_.get())
            (*function)(std::forward<Args>(args)...);
    }

  private:
    PNInstalled<Function> slot_;
};

}  // namespace pindle
