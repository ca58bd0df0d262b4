#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace pindle::emulator {

// A gate that a test holds replies at. A request whose fault names the gate is read and
// answered as usual, but nothing of the reply leaves the server until the test opens the
// gate; a test can therefore act while a request is certainly in flight, however slowly the
// machine runs, and then let it finish. Once open, the gate stays open.
// Thread-safety: every operation is safe from any thread.
class FaultGate {
  public:
    FaultGate() = default;
    FaultGate(const FaultGate&) = delete;
    FaultGate& operator=(const FaultGate&) = delete;

    // Lets every held reply, and every later one, go.
    void open();
    bool isOpen() const;

    // Requests that have reached the gate, held or let through.
    std::size_t arrivals() const;
    // Waits until `count` requests have reached the gate; false when the timeout passed first.
    bool waitForArrivals(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Called by the server when a request reaches the gate.
    void arrive();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool open_ = false;         // guarded by mutex_
    std::size_t arrivals_ = 0;  // guarded by mutex_
};

}  // namespace pindle::emulator
