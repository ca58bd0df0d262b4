// CaptureOutput: where a capture session sends what its inputs produce. The base holds the
// output's connection; CaptureDataOutput adds the sample-buffer delegate and its queue.
//
// A data output lends its delegate a bounded number of samples at a time, as a device lends
// buffers from a fixed pool: a sample that comes while that many are still queued for the
// delegate or being handled by it is dropped, counted and logged on standard error (the
// first drop, then every `dropsPerLogLine`-th). So a delegate that falls behind (an encoder
// slower than the camera) loses samples instead of queueing them without end; a recorder
// sees the gap in the times of those that come.
//
// Thread-safety: all operations are safe from any thread. Delegates are held weakly and
// called on the queue they were set with.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/capture/CaptureConnection.hpp"
#include "platform/foundation/Executor.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/media/SampleBuffer.hpp"

namespace pindle::platform {

class CaptureOutput : public Object {
  public:
    explicit CaptureOutput(CaptureMediaType type) : connection_(type) {}

    CaptureMediaType mediaType() const { return connection_.mediaType(); }
    // The connection of `type`; null when the output carries no such media.
    CaptureConnection* connection(CaptureMediaType type) {
        return type == connection_.mediaType() ? &connection_ : nullptr;
    }

  private:
    CaptureConnection connection_;
};

using CaptureOutputPtr = std::shared_ptr<CaptureOutput>;

class CaptureOutputSampleBufferDelegate {
  public:
    virtual ~CaptureOutputSampleBufferDelegate() = default;
    virtual void captureOutput(CaptureOutput& output, const SampleBufferPtr& sampleBuffer,
                               CaptureConnection& connection) = 0;
};

class CaptureDataOutput : public CaptureOutput {
  public:
    static constexpr std::uint64_t dropsPerLogLine = 300;

    CaptureDataOutput(CaptureMediaType type, std::size_t samplesInFlightLimit)
        : CaptureOutput(type), limit_(samplesInFlightLimit) {}

    // A null delegate or queue detaches.
    void setSampleBufferDelegate(std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate,
                                 std::shared_ptr<Executor> queue);
    std::shared_ptr<CaptureOutputSampleBufferDelegate> sampleBufferDelegate() const;

    // Hands `sample` to the delegate on its queue; nothing without one. Dropped when
    // samplesInFlightLimit() samples are already queued for the delegate or in its hands.
    void deliver(const SampleBufferPtr& sample);

    virtual std::size_t samplesInFlightLimit() const { return limit_; }
    // Samples handed to the delegate's queue whose delegate call has not returned yet.
    std::size_t samplesInFlight() const { return inFlight_.load(); }
    // Samples dropped because the delegate was that far behind, since the output was made.
    std::uint64_t droppedSampleCount() const { return dropped_.load(); }

  private:
    struct InFlight;
    void noteDrop();

    const std::size_t limit_;
    std::atomic<std::size_t> inFlight_{0};
    std::atomic<std::uint64_t> dropped_{0};
    mutable std::mutex mutex_;
    // by hand: set together with its queue, which the pair's one lock keeps matched
    std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate_;  // guarded by mutex_
    std::shared_ptr<Executor> queue_;                            // guarded by mutex_
};

}  // namespace pindle::platform
