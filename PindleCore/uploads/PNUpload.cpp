#include "PindleCore/uploads/PNUpload.hpp"

namespace pindle {

PNUpload::PNUpload(std::string videoID, std::shared_ptr<platform::Object> thumb, float progress,
                   bool isCompressed)
    : videoID_(std::move(videoID)),
      thumb_(std::move(thumb)),
      progress_(progress),
      isCompressed_(isCompressed) {}

std::string PNUpload::videoID() const {
    std::lock_guard lock(mutex_);
    return videoID_;
}

void PNUpload::setVideoID(std::string value) {
    std::lock_guard lock(mutex_);
    videoID_ = std::move(value);
}

std::shared_ptr<platform::Object> PNUpload::thumb() const {
    std::lock_guard lock(mutex_);
    return thumb_;
}

void PNUpload::setThumb(std::shared_ptr<platform::Object> value) {
    std::lock_guard lock(mutex_);
    thumb_ = std::move(value);
}

float PNUpload::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void PNUpload::setProgress(float value) {
    std::lock_guard lock(mutex_);
    progress_ = value;
}

bool PNUpload::isCompressed() const {
    std::lock_guard lock(mutex_);
    return isCompressed_;
}

void PNUpload::setIsCompressed(bool value) {
    std::lock_guard lock(mutex_);
    isCompressed_ = value;
}

}  // namespace pindle
