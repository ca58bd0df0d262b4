// PNAsyncOperation: the base of operations that end later than the call that starts them.
//
// It keeps a small life-cycle state, pending -> executing -> finished (or pending -> finished),
// answers the queue's isExecuting()/isFinished() from it, and announces every change to the
// operation's observers: will-change of the new state's key, will-change of the old one, the
// store, did-change of the old key, did-change of the new one ("isPending", "isExecuting",
// "isFinished"). The queue holds the operation's slot until "isFinished" is announced.
//
// A subclass overrides main(): it calls setIsExecuting() first and starts its work only when
// that returns true, and calls setIsFinished() when the work has ended (often on another
// thread). A subclass that overrides cancel() calls this cancel() too.
//
// Thread-safety: each transition is one atomic step: of two concurrent setIsFinished() calls
// exactly one succeeds, and the announcements of one transition never interleave with
// another's. To keep that order, observers are called while the transition lock is held;
// an observer must not wait for another thread that moves this same operation.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/dispatch/Operation.hpp"

namespace pindle {

class PNAsyncOperation : public platform::Operation {
  public:
    PNAsyncOperation() = default;

    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override { return state_.load() == State::executing; }
    bool isFinished() const override { return state_.load() == State::finished; }
    bool pending() const { return state_.load() == State::pending; }

    // Moves to executing when allowed (only from pending); whether the state changed.
    bool setIsExecuting();
    // Moves to finished when allowed (from pending or executing); whether the state changed.
    bool setIsFinished();

    // Cancels, then finishes at once (a finished operation stays as it is).
    void cancel() override;

  private:
    enum class State { pending = 0, executing = 1, finished = 2 };

    bool switchTo(State target);
    static bool ableToSwitchState(State from, State to);
    static const char* stringRepresentation(State state);

    // Recursive: an observer called under it may move the operation on (finish it when it
    // starts executing), which is a transition of its own on the same thread.
    std::recursive_mutex transitionLock_;
    std::atomic<State> state_{State::pending};  // written under transitionLock_
};

}  // namespace pindle
