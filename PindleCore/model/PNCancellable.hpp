// PNCancellable: a token for an asynchronous call that can still be called off.
//
// Every asynchronous operation of the SDK returns one (or nullptr where the call completed
// synchronously). Cancelling asks the underlying work to stop; the call's completion still
// runs once, with a cancellation error, unless it has already run.
//
// Thread-safety: cancelIt() may be called from any thread, any number of times.
#pragma once

#include <memory>

namespace pindle {

class PNCancellable {
  public:
    virtual ~PNCancellable();
    virtual void cancelIt() = 0;
};

using PNCancellablePtr = std::shared_ptr<PNCancellable>;

}  // namespace pindle
