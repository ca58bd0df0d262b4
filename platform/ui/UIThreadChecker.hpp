// UIThreadChecker: counts changes made to views and layers off the main thread.
//
// On the phone platform, touching the interface from another thread is a fault that shows
// up late and at random. Here every view and layer mutator reports itself; a change made on
// any thread but the main thread is counted, and the call sites of the first ones are kept
// so that a failing test can say where it happened. Every change, on any thread, also moves
// mutationCount(). It never aborts: some code reads
// interface state from other queues on purpose, and reading is not counted.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pindle::platform::ui {

class UIThreadChecker {
  public:
    UIThreadChecker() = delete;

    // How many call sites are kept.
    static constexpr std::size_t keptSites = 10;

    // Called by mutators with a description such as "View::setFrame". Counts the change when
    // the calling thread is not the main thread.
    static void recordMutation(const char* site);

    static std::size_t offMainMutations();
    // Every change recorded on any thread since the process began: the screen redraws the
    // interface only when this has moved since its last frame.
    static std::uint64_t mutationCount();
    // The sites of the first `keptSites` off-main changes since the last reset, in order.
    static std::vector<std::string> firstSites();
    static void reset();
};

}  // namespace pindle::platform::ui
