#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "tools/emulator/FaultGate.hpp"

namespace pindle::emulator {

// A misbehaviour the server acts out on requests for one path, so that clients can be
// tested against slow and broken connections. A delay applies to any action: the reply
// (or the cut) comes that much later; a gate holds it until the test opens the gate. A
// throttle paces the body of a normal reply.
// Thread-safety: a plain value.
struct Fault {
    enum class Action {
        reply,              // send the reply normally (after the delay)
        dropMidBody,        // send the header and bodyBytes of the body, then close
        stallBody,          // send the header and bodyBytes of the body, then nothing more
        closeWithoutReply,  // read the request, then close without sending a byte
    };

    Action action = Action::reply;
    std::chrono::milliseconds delay{0};
    // Bytes of the body sent before a drop or a stall; clamped below the body's length so
    // that the reply is always cut short.
    std::size_t bodyBytes = 0;
    // With action reply: the body goes out at about this many bytes a second (in tenths of a
    // second's worth), so that a client sees a slow link; 0 sends it at once.
    std::size_t bytesPerSecond = 0;
    // The fault applies to this method only; any method when absent.
    std::optional<std::string> method;
    // How many requests the fault applies to before it is used up; unlimited when absent.
    std::optional<int> uses;
    // When set, the action waits (after the delay) until the gate is open.
    std::shared_ptr<FaultGate> gate;

    static Fault delayed(std::chrono::milliseconds delay) {
        Fault fault;
        fault.delay = delay;
        return fault;
    }
    // The reply is held until `gate` opens.
    static Fault heldBy(std::shared_ptr<FaultGate> gate) {
        Fault fault;
        fault.gate = std::move(gate);
        return fault;
    }
    static Fault dropAfter(std::size_t bodyBytes) {
        Fault fault;
        fault.action = Action::dropMidBody;
        fault.bodyBytes = bodyBytes;
        return fault;
    }
    static Fault stallAfter(std::size_t bodyBytes) {
        Fault fault;
        fault.action = Action::stallBody;
        fault.bodyBytes = bodyBytes;
        return fault;
    }
    static Fault throttle(std::size_t bytesPerSecond) {
        Fault fault;
        fault.bytesPerSecond = bytesPerSecond;
        return fault;
    }
    static Fault closeImmediately() {
        Fault fault;
        fault.action = Action::closeWithoutReply;
        return fault;
    }

    Fault& onlyFor(std::string onlyMethod) {
        method = std::move(onlyMethod);
        return *this;
    }
    Fault& times(int count) {
        uses = count;
        return *this;
    }
};

}  // namespace pindle::emulator
