#include "platform/capture/CaptureMetadataOutput.hpp"

#include <algorithm>

#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

std::vector<std::string> CaptureMetadataOutput::metadataObjectTypes() const {
    std::lock_guard lock(mutex_);
    return types_;
}

void CaptureMetadataOutput::setMetadataObjectTypes(std::vector<std::string> types) {
    const auto available = availableMetadataObjectTypes();
    std::erase_if(types, [&](const std::string& type) {
        return std::find(available.begin(), available.end(), type) == available.end();
    });
    std::lock_guard lock(mutex_);
    types_ = std::move(types);
}

void CaptureMetadataOutput::setMetadataObjectsDelegate(
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate, std::shared_ptr<Executor> queue) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::shared_ptr<CaptureMetadataOutputObjectsDelegate>
CaptureMetadataOutput::metadataObjectsDelegate() const {
    std::lock_guard lock(mutex_);
    return queue_ ? delegate_.lock() : nullptr;
}

void CaptureMetadataOutput::deliver(const std::vector<MetadataObject>& objects) {
    std::vector<MetadataObject> wanted;
    std::weak_ptr<CaptureMetadataOutputObjectsDelegate> delegate;
    std::shared_ptr<Executor> queue;
    {
        std::lock_guard lock(mutex_);
        for (const auto& object : objects)
            if (std::find(types_.begin(), types_.end(), object.type) != types_.end())
                wanted.push_back(object);
        delegate = delegate_;
        queue = queue_;
    }
    if (wanted.empty() || !queue || delegate.expired())
        return;
    auto self = std::static_pointer_cast<CaptureMetadataOutput>(shared_from_this());
    queue->async(weakly(std::move(delegate), [self, wanted = std::move(wanted)](
                                                 CaptureMetadataOutputObjectsDelegate& target) {
        if (!self->metadataObjectsDelegate())
            return;
        target.captureOutput(*self, wanted, *self->connection(CaptureMediaType::video));
    }));
}

}  // namespace pindle::platform
