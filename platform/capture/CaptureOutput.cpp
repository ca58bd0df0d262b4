#include "platform/capture/CaptureOutput.hpp"

namespace pindle::platform {

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
    auto self = std::static_pointer_cast<CaptureDataOutput>(shared_from_this());
    queue->async([self, delegate, sample] {
        // Detached meanwhile: the sample is dropped.
        if (!self->sampleBufferDelegate())
            return;
        if (auto target = delegate.lock())
            target->captureOutput(*self, sample, *self->connection(self->mediaType()));
    });
}

}  // namespace pindle::platform
