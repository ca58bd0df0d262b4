// CaptureOutput: where a capture session sends what its inputs produce. The base holds the
// output's connection; CaptureDataOutput adds the sample-buffer delegate and its queue.
//
// Thread-safety: all operations are safe from any thread. Delegates are held weakly and
// called on the queue they were set with.
#pragma once

#include <memory>
#include <mutex>

#include "platform/capture/CaptureConnection.hpp"
#include "platform/dispatch/Executor.hpp"
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
    using CaptureOutput::CaptureOutput;

    // A null delegate or queue detaches.
    void setSampleBufferDelegate(std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate,
                                 std::shared_ptr<Executor> queue);
    std::shared_ptr<CaptureOutputSampleBufferDelegate> sampleBufferDelegate() const;

    // Hands `sample` to the delegate on its queue; nothing without one.
    void deliver(const SampleBufferPtr& sample);

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate_;  // guarded by mutex_
    std::shared_ptr<Executor> queue_;                            // guarded by mutex_
};

}  // namespace pindle::platform
