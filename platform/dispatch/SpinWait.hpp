// spinUntil: a bounded busy wait, for waits shorter than putting a thread to sleep and waking
// it again would take (a logging thread lingering for its next message, a flush waiting for
// a thread that is about to finish).
//
// The bound is the processor's own monotonic time, never Clock::current(): a spin costs CPU
// time whatever the SDK's clock says, and a virtual clock stands still until a test advances
// it, so a spin measured on it would never end.
//
// Thread-safety: a free function; `ready` is called on the calling thread only.
#pragma once

#include <chrono>

namespace pindle::platform {

// Tells the processor the thread is spinning (a pause on x86, a yield hint on ARM), so a
// sibling hardware thread runs meanwhile and leaving the loop costs no pipeline flush.
inline void relaxProcessor() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Polls `ready` without sleeping for at most `limit`; returns whether it came true. The time
// is read once per `checksPerClockRead` polls and each poll is followed by `pausesPerCheck`
// processor relaxations: each poll of a counter pulls its cache line away from the thread
// that writes it.
template <class Ready>
bool spinUntil(std::chrono::nanoseconds limit, Ready ready, int checksPerClockRead = 8,
               int pausesPerCheck = 32) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < checksPerClockRead; ++i) {
            if (ready()) {
                return true;
            }
            for (int pause = 0; pause < pausesPerCheck; ++pause) {
                relaxProcessor();
            }
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
    }
}

}  // namespace pindle::platform
