#include "PindleCore/model/PNAsyncOperation.hpp"

namespace pindle {

bool PNAsyncOperation::ableToSwitchState(State from, State to) {
    return (from == State::pending && (to == State::executing || to == State::finished)) ||
           (from == State::executing && to == State::finished);
}

const char* PNAsyncOperation::stringRepresentation(State state) {
    switch (state) {
        case State::pending:
            return "isPending";
        case State::executing:
            return "isExecuting";
        case State::finished:
            return "isFinished";
    }
    return "isPending";
}

bool PNAsyncOperation::switchTo(State target) {
    std::lock_guard lock(transitionLock_);
    const State old = state_.load();
    if (!ableToSwitchState(old, target))
        return false;
    willChangeValueForKey(stringRepresentation(target));
    willChangeValueForKey(stringRepresentation(old));
    state_.store(target);
    didChangeValueForKey(stringRepresentation(old));
    didChangeValueForKey(stringRepresentation(target));
    return true;
}

bool PNAsyncOperation::setIsExecuting() {
    return switchTo(State::executing);
}

bool PNAsyncOperation::setIsFinished() {
    return switchTo(State::finished);
}

void PNAsyncOperation::cancel() {
    platform::Operation::cancel();
    setIsFinished();
}

}  // namespace pindle
