// ImagePickerController: the system's picker of pictures and movies, from the photo library
// or the camera. A headless build has no user to pick, so what the picker answers is
// scripted by the host or the test (scriptNextResult): a picture (with its orientation), a
// movie by file URL, a library movie by reference URL, or a cancel. Each presented picker
// takes the oldest scripted result and hands it to its delegate on the main queue once it
// has appeared; with nothing scripted it waits on screen and takes the next result
// scripted (pickers waiting answer in the order they appeared).
//
// The camera's availability comes from the capture hardware's cameras unless a host or
// test overrides it (setCameraAvailability); the photo library's is configurable.
//
// Thread-safety: as ViewController. The delegate is held weakly and called on the main
// queue.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/media/Image.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle::platform::ui {

class ImagePickerController;
using ImagePickerControllerPtr = std::shared_ptr<ImagePickerController>;

class ImagePickerControllerDelegate {
  public:
    virtual ~ImagePickerControllerDelegate() = default;
    // `info` holds the media type and, by kind, the original image, the media URL or the
    // reference URL (URLs as text) under the info keys.
    virtual void imagePickerControllerDidFinishPickingMediaWithInfo(ImagePickerController& picker,
                                                                    const Dictionary& info) = 0;
    virtual void imagePickerControllerDidCancel(ImagePickerController& picker) = 0;
};

class ImagePickerController : public ViewController {
  public:
    enum class SourceType { photoLibrary = 0, camera = 1, savedPhotosAlbum = 2 };
    enum class CameraDevice { rear = 0, front = 1 };

    static constexpr const char* mediaTypeKey = "UIImagePickerControllerMediaType";
    static constexpr const char* originalImageKey = "UIImagePickerControllerOriginalImage";
    static constexpr const char* editedImageKey = "UIImagePickerControllerEditedImage";
    static constexpr const char* mediaURLKey = "UIImagePickerControllerMediaURL";
    static constexpr const char* referenceURLKey = "UIImagePickerControllerReferenceURL";

    // What the next presented picker answers.
    struct Result {
        enum class Kind { image, movie, libraryMovie, cancel };
        Kind kind = Kind::cancel;
        ImagePtr image;
        std::optional<URL> url;

        static Result picture(ImagePtr image) { return Result{Kind::image, std::move(image), {}}; }
        static Result movie(URL mediaURL) {
            return Result{Kind::movie, nullptr, std::move(mediaURL)};
        }
        static Result libraryMovie(URL referenceURL) {
            return Result{Kind::libraryMovie, nullptr, std::move(referenceURL)};
        }
        static Result cancelled() { return Result{}; }
    };

    static ImagePickerControllerPtr make() { return std::make_shared<ImagePickerController>(); }
    ImagePickerController() = default;

    static bool isSourceTypeAvailable(SourceType type);
    static bool isCameraDeviceAvailable(CameraDevice device);
    static void setPhotoLibraryAvailable(bool available);
    // Overrides where camera availability is read from (null: the capture hardware).
    static void setCameraAvailability(std::function<bool(CameraDevice)> availability);

    static void scriptNextResult(Result result);
    // Forgets scripted results and restores the default availabilities (for tests).
    static void resetScript();

    std::weak_ptr<ImagePickerControllerDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ImagePickerControllerDelegate> delegate);
    SourceType sourceType() const;
    void setSourceType(SourceType type);
    std::vector<std::string> mediaTypes() const;
    void setMediaTypes(std::vector<std::string> types);
    bool allowsEditing() const;
    void setAllowsEditing(bool allows);

  protected:
    void viewDidAppear(bool animated) override;

  private:
    void deliver(const Result& result);

    WeakDelegate<ImagePickerControllerDelegate> delegate_;
    mutable std::mutex pickerMutex_;
    SourceType sourceType_ = SourceType::photoLibrary;     // guarded by pickerMutex_
    std::vector<std::string> mediaTypes_{"public.image"};  // guarded by pickerMutex_
    bool allowsEditing_ = false;                           // guarded by pickerMutex_
    bool answered_ = false;                                // guarded by pickerMutex_
};

}  // namespace pindle::platform::ui
