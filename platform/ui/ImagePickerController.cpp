#include "platform/ui/ImagePickerController.hpp"

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/UTType.hpp"
#include "platform/ui/private/PickerCameras.hpp"

namespace pindle::platform::ui {
namespace {

struct Script {
    std::mutex mutex;
    std::deque<ImagePickerController::Result> results;                 // guarded by mutex
    bool libraryAvailable = true;                                      // guarded by mutex
    std::function<bool(ImagePickerController::CameraDevice)> cameras;  // guarded by mutex
    // Pickers on screen with nothing to answer yet, oldest first.
    std::deque<std::weak_ptr<ImagePickerController>> waiting;  // guarded by mutex
};

Script& script() {
    static auto* shared = new Script();
    return *shared;
}

}  // namespace

bool ImagePickerController::isSourceTypeAvailable(SourceType type) {
    if (type == SourceType::camera)
        return isCameraDeviceAvailable(CameraDevice::rear) ||
               isCameraDeviceAvailable(CameraDevice::front);
    std::lock_guard lock(script().mutex);
    return script().libraryAvailable;
}

bool ImagePickerController::isCameraDeviceAvailable(CameraDevice device) {
    std::function<bool(CameraDevice)> cameras;
    {
        std::lock_guard lock(script().mutex);
        cameras = script().cameras;
    }
    if (cameras)
        return cameras(device);
    return PickerCameras::isPresent(device);
}

void ImagePickerController::setPhotoLibraryAvailable(bool available) {
    std::lock_guard lock(script().mutex);
    script().libraryAvailable = available;
}

void ImagePickerController::setCameraAvailability(std::function<bool(CameraDevice)> availability) {
    std::lock_guard lock(script().mutex);
    script().cameras = std::move(availability);
}

void ImagePickerController::scriptNextResult(Result result) {
    ImagePickerControllerPtr picker;
    {
        std::lock_guard lock(script().mutex);
        auto& waiting = script().waiting;
        while (!picker && !waiting.empty()) {
            picker = waiting.front().lock();
            waiting.pop_front();
            if (picker && !picker->isAppeared())
                picker.reset();  // dismissed before anything was picked
        }
        if (!picker) {
            script().results.push_back(std::move(result));
            return;
        }
    }
    DispatchQueue::main()->async([picker, result = std::move(result)] { picker->deliver(result); });
}

void ImagePickerController::resetScript() {
    std::lock_guard lock(script().mutex);
    script().results.clear();
    script().waiting.clear();
    script().libraryAvailable = true;
    script().cameras = nullptr;
}

std::weak_ptr<ImagePickerControllerDelegate> ImagePickerController::delegate() const {
    return delegate_.weak();
}

void ImagePickerController::setDelegate(std::weak_ptr<ImagePickerControllerDelegate> delegate) {
    delegate_.set(std::move(delegate));
}

ImagePickerController::SourceType ImagePickerController::sourceType() const {
    std::lock_guard lock(pickerMutex_);
    return sourceType_;
}

void ImagePickerController::setSourceType(SourceType type) {
    std::lock_guard lock(pickerMutex_);
    sourceType_ = type;
}

std::vector<std::string> ImagePickerController::mediaTypes() const {
    std::lock_guard lock(pickerMutex_);
    return mediaTypes_;
}

void ImagePickerController::setMediaTypes(std::vector<std::string> types) {
    std::lock_guard lock(pickerMutex_);
    mediaTypes_ = std::move(types);
}

bool ImagePickerController::allowsEditing() const {
    std::lock_guard lock(pickerMutex_);
    return allowsEditing_;
}

void ImagePickerController::setAllowsEditing(bool allows) {
    std::lock_guard lock(pickerMutex_);
    allowsEditing_ = allows;
}

void ImagePickerController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    std::optional<Result> result;
    {
        std::lock_guard pickerLock(pickerMutex_);
        if (answered_)
            return;
        std::lock_guard lock(script().mutex);
        answered_ = true;
        if (script().results.empty()) {
            script().waiting.push_back(
                std::static_pointer_cast<ImagePickerController>(shared_from_this()));
            return;
        }
        result = std::move(script().results.front());
        script().results.pop_front();
    }
    auto self = std::static_pointer_cast<ImagePickerController>(shared_from_this());
    DispatchQueue::main()->async([self, result = std::move(*result)] { self->deliver(result); });
}

void ImagePickerController::deliver(const Result& result) {
    auto target = delegate().lock();
    if (!target)
        return;
    if (result.kind == Result::Kind::cancel) {
        target->imagePickerControllerDidCancel(*this);
        return;
    }
    Dictionary info;
    if (result.kind == Result::Kind::image) {
        info[mediaTypeKey] = UTType::image;
        if (result.image)
            info[originalImageKey] = Value(std::static_pointer_cast<Object>(result.image));
    } else {
        info[mediaTypeKey] = UTType::movie;
        if (result.url)
            info[result.kind == Result::Kind::movie ? mediaURLKey : referenceURLKey] =
                result.url->absoluteString();
    }
    target->imagePickerControllerDidFinishPickingMediaWithInfo(*this, info);
}

}  // namespace pindle::platform::ui
