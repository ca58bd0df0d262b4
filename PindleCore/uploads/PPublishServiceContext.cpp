#include "PindleCore/uploads/PPublishServiceContext.hpp"

namespace pindle::legacy {

PPublishServiceContext::PPublishServiceContext(platform::URL url, std::string videoID,
                                               platform::StringSet tags,
                                               platform::StringDictionary metadata,
                                               std::string destPath)
    : url_(std::move(url)),
      videoID_(std::move(videoID)),
      tags_(std::move(tags)),
      metadata_(std::move(metadata)),
      destPath_(std::move(destPath)) {}

std::shared_ptr<PNVideo> PPublishServiceContext::video() const {
    std::lock_guard lock(mutex_);
    return video_;
}

void PPublishServiceContext::setVideo(std::shared_ptr<PNVideo> video) {
    std::lock_guard lock(mutex_);
    video_ = std::move(video);
}

std::string PPublishServiceContext::filePath() const {
    std::lock_guard lock(mutex_);
    return filePath_;
}

void PPublishServiceContext::setFilePath(std::string path) {
    std::lock_guard lock(mutex_);
    filePath_ = std::move(path);
}

bool PPublishServiceContext::converted() const {
    std::lock_guard lock(mutex_);
    return converted_;
}

void PPublishServiceContext::setConverted(bool converted) {
    std::lock_guard lock(mutex_);
    converted_ = converted;
}

bool PPublishServiceContext::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void PPublishServiceContext::setCancelled(bool cancelled) {
    std::lock_guard lock(mutex_);
    cancelled_ = cancelled;
}

void PPublishServiceContext::addCompletion(Completion completion) {
    std::lock_guard lock(mutex_);
    completionBlocks_.push_back(std::move(completion));
}

std::vector<PPublishServiceContext::Completion> PPublishServiceContext::completionBlocks() const {
    std::lock_guard lock(mutex_);
    return completionBlocks_;
}

std::vector<std::shared_ptr<platform::Operation>> PPublishServiceContext::operations() const {
    std::lock_guard lock(mutex_);
    return operations_;
}

void PPublishServiceContext::addOperation(std::shared_ptr<platform::Operation> operation) {
    if (!operation)
        return;
    std::lock_guard lock(mutex_);
    operations_.push_back(std::move(operation));
}

std::string PPublishServiceContext::outputHLSegmenterPath() const {
    std::lock_guard lock(mutex_);
    return outputHLSegmenterPath_;
}

void PPublishServiceContext::setOutputHLSegmenterPath(std::string path) {
    std::lock_guard lock(mutex_);
    outputHLSegmenterPath_ = std::move(path);
}

}  // namespace pindle::legacy
