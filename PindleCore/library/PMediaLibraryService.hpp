// PMediaLibraryService: lets the host pick a picture or a movie from the photo library, or
// take one with the camera, through the platform image picker, and hands back a playable
// asset: a movie's file (or the library asset's file), or for a picture a JPEG the service
// writes into Documents as "picture_<yyyyMMddHHmmssAAA>.jpg", optionally packed (drawn
// upright, at most 3 MiB). It asks for photo-library access, shows an alert that leads to
// the settings when access was denied, and keeps the device awake while a picker is up.
//
// One result block is kept at a time: opening a second picker before the first has
// answered replaces the block, and the first is never called. The block gets exactly one
// of: (asset, false, nothing) when picked; (null, true, nothing) when cancelled (a library
// movie that is not a file counts as a cancel, and so does access to the library refused at
// the first request, or denied, in which case the answer comes once the alert leading to the
// settings has been dismissed); (null, false, error) when the library is unavailable or a
// picture could not be written.
//
// Thread-safety: safe from any thread; the picker, alert and result work runs on the main
// queue, where result blocks are called.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/ui/AlertView.hpp"
#include "platform/ui/ImagePickerController.hpp"

namespace pindle {

class PMediaLibraryService : public platform::ui::ImagePickerControllerDelegate,
                             public platform::ui::AlertViewDelegate,
                             public std::enable_shared_from_this<PMediaLibraryService> {
  public:
    using ResultBlock = std::function<void(platform::URLAssetPtr asset, bool cancelled,
                                           std::optional<platform::Error> error)>;

    static constexpr double maxPackedMegabytes = 3.0;
    static constexpr const char* alertTitle = "Access to photo library";
    static constexpr const char* alertMessage =
        "Recorder requires access to photo library to be able import video";

    // The one shared instance.
    static std::shared_ptr<PMediaLibraryService> getInstance();
    PMediaLibraryService() = default;
    PMediaLibraryService(const PMediaLibraryService&) = delete;
    PMediaLibraryService& operator=(const PMediaLibraryService&) = delete;

    // Run on the main queue (they present).
    void openPhotoLibraryForMediaType(const std::string& mediaType, ResultBlock block);
    void openCameraForMediaType(const std::string& mediaType, ResultBlock block);

    // Safe from any thread: they set the packing and open the picker on the main queue.
    void imageFromLibraryWithBlock(ResultBlock block);
    void getImageFromLibraryNeedPack(bool needPack, ResultBlock block);
    void getImageFromCameraNeedPack(bool needPack, ResultBlock block);
    void movieFromLibraryWithBlock(ResultBlock block);
    void getMovieFromCameraWithBlock(ResultBlock block);
    bool cameraIsAvailable() const;

    void imagePickerControllerDidFinishPickingMediaWithInfo(
        platform::ui::ImagePickerController& picker, const platform::Dictionary& info) override;
    void imagePickerControllerDidCancel(platform::ui::ImagePickerController& picker) override;
    void alertViewClickedButtonAtIndex(platform::ui::AlertView& alert, int index) override;

    // The file name stamp: now, "yyyyMMddHHmmssAAA" in the local time zone.
    static std::string getIdByTime();
    // Creates the missing folders of `path`, then writes `data` atomically; the error when
    // that fails.
    static platform::Status saveFileFromData(const platform::Data& data, const std::string& path);
    // The picture redrawn upright.
    static platform::ImagePtr trasform(const platform::ImagePtr& image);
    // A flattened copy of `image`: an opaque canvas of its size (in points) at the screen's
    // scale, with the picture drawn into it upright (black where it is transparent), handed
    // back with the source's scale and the up orientation, so a source of another scale comes
    // back larger or smaller by the ratio. Null without an image or for a size that cannot
    // be drawn. (Drawing the source is this SDK's choice: an undrawn canvas would be black.)
    static platform::ImagePtr createImageConstrainedFromImage(const platform::ImagePtr& image);
    // JPEG bytes of the picture: at quality 1 without packing; packed, upright and at the
    // highest quality (in steps of 0.1) whose bytes fit maxPackedMegabytes, or the quality
    // 0 bytes when none does. Nothing when the encoder fails.
    static std::optional<platform::Data> pictureData(const platform::ImagePtr& image, bool pack);
    // The key window's root controller, followed along its presented controllers.
    static platform::ui::ViewControllerPtr topViewController();

  private:
    void present(const platform::ui::ImagePickerControllerPtr& picker, const std::string& mediaType,
                 ResultBlock block);
    void finishPicker(const platform::ui::ImagePickerControllerPtr& picker,
                      const platform::Dictionary& info);
    void complete(const platform::ui::ImagePickerControllerPtr& picker, platform::URLAssetPtr asset,
                  bool cancelled, std::optional<platform::Error> error);
    bool needPack() const;
    void setNeedPack(bool pack);

    mutable std::mutex mutex_;
    bool needPack_ = false;     // guarded by mutex_
    ResultBlock completition_;  // guarded by mutex_
    // The blocks of library pickers that denied access turned into an alert, answered when
    // it is dismissed; guarded by mutex_.
    std::vector<std::pair<platform::ui::AlertViewPtr, ResultBlock>> alertBlocks_;
};

}  // namespace pindle
