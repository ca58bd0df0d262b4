// LGLoggingContextSet: a set of log-message contexts that context filters consult.
//
// Contexts are kept and compared as unsigned 64-bit numbers (a context of -1 is the same
// entry as 18446744073709551615).
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace pindle {

class LGLoggingContextSet {
  public:
    LGLoggingContextSet() = default;
    LGLoggingContextSet(const LGLoggingContextSet&) = delete;
    LGLoggingContextSet& operator=(const LGLoggingContextSet&) = delete;

    void addToSet(std::int64_t context);
    void removeFromSet(std::int64_t context);
    // Every context in the set, in no particular order.
    std::vector<std::int64_t> currentSet() const;
    bool isInSet(std::int64_t context) const;

  private:
    mutable std::mutex mutex_;
    std::set<std::uint64_t> set_;  // guarded by mutex_
};

}  // namespace pindle
