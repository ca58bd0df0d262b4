// PNThroughputManager: the process-wide estimate of download throughput, in bits per second,
// and the playback resolution it selects.
//
// Producers feed samples through channels (the range downloader owns one for the process).
// The estimate starts at 3,072,000 bit/s; once the last 2 seconds hold more than 20 samples,
// their average replaces the default, and later windows move the estimate a tenth of the way.
// Resolution bands: above 4,096,000 bit/s 720p; above 2,048,000 540p; above 1,024,000 360p;
// otherwise 540p. Time is read from the platform clock's monotonic uptime.
//
// Thread-safety: all members are safe from any thread; bandwidth() reads without the lock.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "PindleCore/caches/PNThroughputManagerChannel.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"

namespace pindle {

class PNThroughputManager : public std::enable_shared_from_this<PNThroughputManager> {
  public:
    static constexpr double defaultValue = 3'072'000.0;
    static constexpr double diffFactor = 10.0;
    static constexpr double actualTimeInSeconds = 2.0;

    static PNThroughputManager& shared();

    // A fresh manager, for code (and tests) that must not share the process estimate.
    static std::shared_ptr<PNThroughputManager> make();

    PNThroughputManager(const PNThroughputManager&) = delete;
    PNThroughputManager& operator=(const PNThroughputManager&) = delete;

    double bandwidth() const { return bandwidth_.load(); }
    PNVideoResolution resolution() const;

    // A new channel whose samples feed this manager. The channel keeps the manager alive.
    std::shared_ptr<PNThroughputManagerChannel> channel();
    void closeChannel(const std::shared_ptr<PNThroughputManagerChannel>& channel);

  private:
    struct Sample {
        double time;
        double bits;
    };
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit PNThroughputManager(Private);

  private:
    void addSample(double bits);
    void recalculateBandwidth();  // REQUIRES: lock_ held

    std::mutex lock_;
    std::deque<Sample> throughputs_;  // guarded by lock_
    // The bits of throughputs_, kept as samples come and go: a fast download feeds thousands
    // of samples per window, and summing them all on each one made every chunk cost O(window).
    double windowBits_ = 0.0;                      // guarded by lock_
    std::atomic<double> bandwidth_{defaultValue};  // written under lock_, read without it
    PNLogger logger_{PNLoggerType::THRP};
};

}  // namespace pindle
