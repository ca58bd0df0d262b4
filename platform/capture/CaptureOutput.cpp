#include "platform/capture/CaptureOutput.hpp"

#include <string>
#include <string_view>

#include "platform/foundation/Weakly.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle::platform {

// Holds one of the output's places for a sample from the moment it is queued until the
// block carrying it is gone: run, or thrown away unrun with its queue.
struct CaptureDataOutput::InFlight {
    explicit InFlight(std::shared_ptr<CaptureDataOutput> output) : output(std::move(output)) {}
    ~InFlight() { output->inFlight_.fetch_sub(1); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

    const std::shared_ptr<CaptureDataOutput> output;
};

void CaptureDataOutput::setSampleBufferDelegate(
    std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate, std::shared_ptr<Executor> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::shared_ptr<CaptureOutputSampleBufferDelegate> CaptureDataOutput::sampleBufferDelegate() const {
    std::lock_guard lock(mutex_);
    return queue_ ? delegate_.lock() : nullptr;
}

void CaptureDataOutput::deliver(const SampleBufferPtr& sample) {
    std::weak_ptr<CaptureOutputSampleBufferDelegate> delegate;
    std::shared_ptr<Executor> queue;
    {
        std::lock_guard lock(mutex_);
        delegate = delegate_;
        queue = queue_;
    }
    if (!queue || delegate.expired())
        return;
    const std::size_t limit = samplesInFlightLimit();
    std::size_t inFlight = inFlight_.load();
    do {
        if (inFlight >= limit)
            return noteDrop();
    } while (!inFlight_.compare_exchange_weak(inFlight, inFlight + 1));
    auto self = std::static_pointer_cast<CaptureDataOutput>(shared_from_this());
    auto place = std::make_shared<InFlight>(self);
    queue->async(weakly(std::move(delegate), [self, sample, place = std::move(place)](
                                                 CaptureOutputSampleBufferDelegate& target) {
        // Detached meanwhile: the sample is dropped.
        if (!self->sampleBufferDelegate())
            return;
        target.captureOutput(*self, sample, *self->connection(self->mediaType()));
    }));
}

void CaptureDataOutput::noteDrop() {
    const std::uint64_t dropped = dropped_.fetch_add(1) + 1;
    if (dropped != 1 && dropped % dropsPerLogLine != 0)
        return;
    const std::string line =
        std::string("pindle: the ") + (mediaType() == CaptureMediaType::video ? "video" : "audio") +
        " capture output dropped " + std::to_string(dropped) + " late sample" +
        (dropped == 1 ? "" : "s") + " so far (" + std::to_string(samplesInFlightLimit()) +
        " at most wait for its delegate)\n";
    const std::string_view pieces[] = {line};
    StandardError::writeGathered(pieces);
}

}  // namespace pindle::platform
