// InstalledFunction: a function that a higher folder of the platform installs as the library
// loads, so that a lower folder calls up without including it (a window made key asks the
// display to show it; the application asks the views to end editing). Until one is installed,
// during static initialisation only, calls reach the fallback given at construction.
//
// Thread-safety: install() and calls are safe from any thread; the function runs with no lock
// held, on the calling thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace pindle::platform {

template <typename Signature>
class InstalledFunction;

template <typename Result, typename... Arguments>
class InstalledFunction<Result(Arguments...)> {
  public:
    using Function = std::function<Result(Arguments...)>;

    explicit InstalledFunction(Function fallback)
        : function_(std::make_shared<const Function>(std::move(fallback))) {}

    InstalledFunction(const InstalledFunction&) = delete;
    InstalledFunction& operator=(const InstalledFunction&) = delete;

    void install(Function function) {
        auto installed = std::make_shared<const Function>(std::move(function));
        std::lock_guard lock(mutex_);
        function_ = std::move(installed);
    }

    Result operator()(Arguments... arguments) const {
        std::shared_ptr<const Function> function;
        {
            std::lock_guard lock(mutex_);
            function = function_;
        }
        return (*function)(std::forward<Arguments>(arguments)...);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Function> function_;  // guarded by mutex_
};

}  // namespace pindle::platform
