#include "PindleCore/library/PMediaLibraryService.hpp"

#include <algorithm>
#include <cmath>

#include "PindleCore/legacy/PBundle.hpp"
#include "platform/app/Application.hpp"
#include "platform/app/Screen.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/DateFormatter.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/UTType.hpp"
#include "platform/media/GraphicsContext.hpp"
#include "platform/photos/ImageManager.hpp"
#include "platform/photos/PhotoLibrary.hpp"
#include "platform/ui/Window.hpp"

namespace pindle {

namespace ui = platform::ui;
using platform::Application;
using platform::PhotoLibrary;
using Picker = ui::ImagePickerController;

namespace {

constexpr double bytesToMegabytes = 9.536743e-7;

void onMain(std::function<void()> work) {
    platform::DispatchQueue::main()->async(std::move(work));
}

ui::ImagePickerControllerPtr self(ui::ImagePickerController& picker) {
    return std::static_pointer_cast<ui::ImagePickerController>(picker.shared_from_this());
}

}  // namespace

std::shared_ptr<PMediaLibraryService> PMediaLibraryService::getInstance() {
    static auto* instance =
        new std::shared_ptr<PMediaLibraryService>(std::make_shared<PMediaLibraryService>());
    return *instance;
}

bool PMediaLibraryService::needPack() const {
    std::lock_guard lock(mutex_);
    return needPack_;
}

void PMediaLibraryService::setNeedPack(bool pack) {
    std::lock_guard lock(mutex_);
    needPack_ = pack;
}

bool PMediaLibraryService::cameraIsAvailable() const {
    return Picker::isSourceTypeAvailable(Picker::SourceType::camera);
}

void PMediaLibraryService::imageFromLibraryWithBlock(ResultBlock block) {
    getImageFromLibraryNeedPack(false, std::move(block));
}

void PMediaLibraryService::getImageFromLibraryNeedPack(bool pack, ResultBlock block) {
    setNeedPack(pack);
    onMain([service = shared_from_this(), block = std::move(block)] {
        service->openPhotoLibraryForMediaType(platform::UTType::image, block);
    });
}

void PMediaLibraryService::getImageFromCameraNeedPack(bool pack, ResultBlock block) {
    setNeedPack(pack);
    onMain([service = shared_from_this(), block = std::move(block)] {
        service->openCameraForMediaType(platform::UTType::image, block);
    });
}

void PMediaLibraryService::movieFromLibraryWithBlock(ResultBlock block) {
    setNeedPack(false);
    onMain([service = shared_from_this(), block = std::move(block)] {
        service->openPhotoLibraryForMediaType(platform::UTType::movie, block);
    });
}

void PMediaLibraryService::getMovieFromCameraWithBlock(ResultBlock block) {
    setNeedPack(false);
    onMain([service = shared_from_this(), block = std::move(block)] {
        service->openCameraForMediaType(platform::UTType::movie, block);
    });
}

void PMediaLibraryService::openPhotoLibraryForMediaType(const std::string& mediaType,
                                                        ResultBlock block) {
    if (!Picker::isSourceTypeAvailable(Picker::SourceType::photoLibrary)) {
        if (block)
            block(nullptr, false,
                  platform::Error(
                      "NSURLErrorDomain", -999,
                      {{"info", legacy::bundleLocalizedString("P_ERROR_WrongNotLibrary")}}));
        return;
    }
    auto& library = PhotoLibrary::shared();
    switch (library.authorizationStatus()) {
        case PhotoLibrary::AuthorizationStatus::notDetermined:
            library.requestAuthorization([service = shared_from_this(), mediaType,
                                          block](PhotoLibrary::AuthorizationStatus status) {
                onMain([service, mediaType, block, status] {
                    if (status == PhotoLibrary::AuthorizationStatus::authorized)
                        service->openPhotoLibraryForMediaType(mediaType, block);
                    else if (block)
                        block(nullptr, true, std::nullopt);
                });
            });
            return;
        case PhotoLibrary::AuthorizationStatus::denied: {
            // The caller is answered once the user has dismissed the alert.
            auto alert = ui::AlertView::make(alertTitle, alertMessage, weak_from_this(),
                                             "Grant access", {"Cancel"});
            {
                std::lock_guard lock(mutex_);
                alertBlocks_.emplace_back(alert, std::move(block));
            }
            alert->show();
            return;
        }
        case PhotoLibrary::AuthorizationStatus::authorized:
        case PhotoLibrary::AuthorizationStatus::restricted:
            break;
    }
    auto picker = Picker::make();
    picker->setModalPresentationStyle(
        ui::ViewController::ModalPresentationStyle::overCurrentContext);
    picker->setSourceType(Picker::SourceType::photoLibrary);
    present(picker, mediaType, std::move(block));
}

void PMediaLibraryService::openCameraForMediaType(const std::string& mediaType, ResultBlock block) {
    auto picker = Picker::make();
    picker->setModalPresentationStyle(ui::ViewController::ModalPresentationStyle::overFullScreen);
    auto& library = PhotoLibrary::shared();
    if (library.authorizationStatus() == PhotoLibrary::AuthorizationStatus::notDetermined)
        library.requestAuthorization([](PhotoLibrary::AuthorizationStatus) {});
    picker->setAllowsEditing(true);
    picker->setSourceType(Picker::SourceType::camera);
    present(picker, mediaType, std::move(block));
}

void PMediaLibraryService::present(const ui::ImagePickerControllerPtr& picker,
                                   const std::string& mediaType, ResultBlock block) {
    Application::shared().setIdleTimerDisabled(true);
    picker->setDelegate(weak_from_this());
    picker->setProvidesPresentationContextTransitionStyle(true);
    picker->setDefinesPresentationContext(true);
    picker->view()->setBackgroundColor(ui::Color::clear());
    picker->setMediaTypes({mediaType});
    {
        std::lock_guard lock(mutex_);
        completition_ = std::move(block);
    }
    auto top = topViewController();
    if (!top) {
        // Nowhere to show the picker: report a cancel rather than leave the caller waiting
        // with the screen kept awake.
        complete(picker, nullptr, true, std::nullopt);
        return;
    }
    top->present(picker, true);
}

void PMediaLibraryService::imagePickerControllerDidFinishPickingMediaWithInfo(
    ui::ImagePickerController& picker, const platform::Dictionary& info) {
    onMain([service = shared_from_this(), picker = self(picker), info] {
        service->finishPicker(picker, info);
    });
}

void PMediaLibraryService::imagePickerControllerDidCancel(ui::ImagePickerController& picker) {
    complete(self(picker), nullptr, true, std::nullopt);
}

void PMediaLibraryService::alertViewClickedButtonAtIndex(ui::AlertView& alert, int index) {
    if (index == 0)
        Application::shared().openURL(Application::openSettingsURLString);
    ResultBlock block;
    {
        std::lock_guard lock(mutex_);
        const auto found =
            std::find_if(alertBlocks_.begin(), alertBlocks_.end(),
                         [&](const auto& entry) { return entry.first.get() == &alert; });
        if (found == alertBlocks_.end())
            return;
        block = std::move(found->second);
        alertBlocks_.erase(found);
    }
    if (block)
        onMain([block = std::move(block)] { block(nullptr, true, std::nullopt); });
}

void PMediaLibraryService::finishPicker(const ui::ImagePickerControllerPtr& picker,
                                        const platform::Dictionary& info) {
    auto text = [&](const char* key) -> const std::string* {
        auto it = info.find(key);
        return it == info.end() ? nullptr : it->second.asString();
    };
    const auto* mediaType = text(Picker::mediaTypeKey);
    if (mediaType && *mediaType == platform::UTType::image) {
        auto found = info.find(Picker::originalImageKey);
        auto image = found == info.end() ? nullptr : found->second.asObjectOf<platform::Image>();
        auto data = image ? pictureData(image, needPack()) : std::nullopt;
        if (!data) {
            complete(
                picker, nullptr, false,
                platform::Error("NSCocoaErrorDomain", 512,
                                {{"NSLocalizedDescription", "the picture cannot be encoded"}}));
            return;
        }
        const std::string path =
            platform::AppContainer::documentsDirectory() + "/picture_" + getIdByTime() + ".jpg";
        if (platform::Status failure = saveFileFromData(*data, path); !failure.ok()) {
            complete(picker, nullptr, false, std::move(failure));
            return;
        }
        complete(picker, platform::URLAsset::make(platform::URL::fileURLWithPath(path)), false,
                 std::nullopt);
        return;
    }
    if (const auto* media = text(Picker::mediaURLKey)) {
        auto url = platform::URL::fromString(*media);
        complete(picker, url ? platform::URLAsset::make(*url) : nullptr, false, std::nullopt);
        return;
    }
    if (const auto* reference = text(Picker::referenceURLKey)) {
        auto url = platform::URL::fromString(*reference);
        auto assets = url ? platform::PhotoAsset::fetchAssetsWithALAssetURLs({*url})
                          : std::vector<platform::PhotoAssetPtr>{};
        platform::ImageManager::defaultManager().requestAVAssetForVideo(
            assets.empty() ? nullptr : assets.front(),
            platform::ImageManager::VideoVersion::original,
            [service = shared_from_this(), picker](platform::AssetPtr asset) {
                onMain([service, picker, asset] {
                    if (auto file = std::dynamic_pointer_cast<platform::URLAsset>(asset))
                        service->complete(picker, file, false, std::nullopt);
                    else
                        service->imagePickerControllerDidCancel(*picker);
                });
            });
        return;
    }
    complete(picker, nullptr, false, std::nullopt);
}

void PMediaLibraryService::complete(const ui::ImagePickerControllerPtr& picker,
                                    platform::URLAssetPtr asset, bool cancelled,
                                    std::optional<platform::Error> error) {
    Application::shared().setIdleTimerDisabled(false);
    ResultBlock block;
    {
        std::lock_guard lock(mutex_);
        block = std::move(completition_);
        completition_ = nullptr;
    }
    auto answer = [block, asset, cancelled, error] {
        if (block)
            block(asset, cancelled, error);
    };
    // A picker never shown (no window to show it in) has nothing to dismiss, and a dismissal
    // of it would never call back: the block is answered on the main queue straight away.
    if (picker->presentingViewController())
        picker->dismiss(true, std::move(answer));
    else
        onMain(std::move(answer));
    picker->setDelegate({});
}

std::string PMediaLibraryService::getIdByTime() {
    return platform::DateFormatter("yyyyMMddHHmmssAAA", platform::TimeZone::local())
        .string(platform::Date::now());
}

platform::Status PMediaLibraryService::saveFileFromData(const platform::Data& data,
                                                        const std::string& path) {
    const auto& files = platform::FileManager::defaultManager();
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        bool isFolder = false;
        if (!files.fileExists(folder, &isFolder) || !isFolder) {
            if (platform::Status failure = files.createDirectory(folder, true); !failure.ok())
                return failure;
        }
    }
    return files.writeAtomically(path, data);
}

platform::ImagePtr PMediaLibraryService::trasform(const platform::ImagePtr& image) {
    return image ? image->upright() : nullptr;
}

platform::ImagePtr PMediaLibraryService::createImageConstrainedFromImage(
    const platform::ImagePtr& image) {
    if (!image)
        return nullptr;
    const double screenScale = platform::Screen::main().scale();
    const platform::Size size = image->size();
    auto context = platform::GraphicsContext::make(
        static_cast<int>(std::lround(size.width * screenScale)),
        static_cast<int>(std::lround(size.height * screenScale)), screenScale);
    if (!context)
        return nullptr;
    const auto canvas = ui::Rect::make(0, 0, size.width, size.height);
    context->fill(canvas, ui::Color::black());
    context->drawImage(*image->upright(), canvas);
    const auto drawn = context->makeImage();
    if (!drawn)
        return nullptr;
    return platform::Image::make(drawn->pixelWidth(), drawn->pixelHeight(), drawn->rgba(),
                                 image->scale());
}

std::optional<platform::Data> PMediaLibraryService::pictureData(const platform::ImagePtr& image,
                                                                bool pack) {
    if (!pack)
        return image->jpegData(1.0);
    auto picture = image;
    const auto orientation = image->orientation();
    if (orientation != platform::Image::Orientation::up &&
        orientation != platform::Image::Orientation::upMirrored)
        picture = trasform(image);
    std::optional<platform::Data> data;
    // Lowered in single-precision steps of 0.1; the last try is at quality 0, whose bytes
    // are kept even when they are still too many.
    for (float quality = 1.0f;; quality -= 0.1f) {
        data = picture->jpegData(std::max(0.0f, quality));
        if (!data)
            return std::nullopt;
        if (static_cast<double>(data->size()) * bytesToMegabytes <= maxPackedMegabytes ||
            quality <= 0.0f)
            return data;
    }
}

ui::ViewControllerPtr PMediaLibraryService::topViewController() {
    auto window = Application::shared().keyWindow();
    auto top = window ? window->rootViewController() : nullptr;
    while (top) {
        auto next = top->presentedViewController();
        if (!next)
            break;
        top = next;
    }
    return top;
}

}  // namespace pindle
