// The media library service's picker flows with scripted picker results: pictures written
// to Documents (full quality, or packed and upright), movies from a file or the library,
// edited library movies as a cancel, the denied-access alert and the idle timer.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "PindleCore/library/PMediaLibraryService.hpp"
#include "platform/app/Application.hpp"
#include "platform/app/Screen.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/photos/PhotoLibrary.hpp"
#include "platform/ui/Window.hpp"
#include "support/MediaFixtures.hpp"
#include "support/TemporaryHome.hpp"
#include "support/VirtualTimeTest.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;
using platform::PhotoLibrary;
using Picker = ui::ImagePickerController;
using Status = PhotoLibrary::AuthorizationStatus;

struct Outcome {
    bool called = false;
    platform::URLAssetPtr asset;
    bool cancelled = false;
    std::optional<platform::Error> error;
};

class PMediaLibraryServiceTest : public platform::testing::VirtualTimeTest {
  protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        Picker::resetScript();
        ui::AlertView::dismissAll();
        platform::Application::shared().reset();
        library.setRoot(home.path() + "/Library");
        library.reset();
        library.setAuthorizationStatus(Status::authorized);
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        Picker::resetScript();
        ui::AlertView::dismissAll();
        library.reset();
        platform::Application::shared().reset();
        VirtualTimeTest::TearDown();
    }

    PMediaLibraryService::ResultBlock record() {
        return [this](platform::URLAssetPtr asset, bool cancelled,
                      std::optional<platform::Error> error) {
            outcome = Outcome{true, std::move(asset), cancelled, std::move(error)};
        };
    }
    bool answered() {
        return platform::testing::eventually([&] {
            advance(0.5);  // the picker's dismissal animation
            return outcome.called;
        });
    }
    // A picture of noise, large enough that its finest JPEG is several megabytes.
    static platform::ImagePtr noisePicture(int width, int height) {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
        std::uint32_t state = 1;
        for (auto& byte : rgba) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        return platform::Image::make(width, height, std::move(rgba));
    }

    testing::TemporaryHome home;
    PhotoLibrary& library = PhotoLibrary::shared();
    std::shared_ptr<PMediaLibraryService> service = PMediaLibraryService::getInstance();
    std::shared_ptr<ui::Window> window = ui::Window::make(ui::Rect::make(0, 0, 375, 667));
    ui::ViewControllerPtr root = std::make_shared<ui::ViewController>();
    Outcome outcome;
};

TEST_F(PMediaLibraryServiceTest,
       APictureIsWrittenToDocumentsAtFullQualityWhileTheScreenStaysAwake) {
    auto picture = platform::Image::filled(64, 32, {200, 10, 10, 255});
    service->imageFromLibraryWithBlock(record());
    platform::MainThread::drain();
    EXPECT_TRUE(platform::Application::shared().isIdleTimerDisabled());
    // The user picks while the picker is on screen.
    Picker::scriptNextResult(Picker::Result::picture(picture));
    ASSERT_TRUE(answered());
    EXPECT_FALSE(platform::Application::shared().isIdleTimerDisabled());
    EXPECT_EQ(root->presentedViewController(), nullptr);

    ASSERT_TRUE(outcome.asset);
    EXPECT_FALSE(outcome.cancelled);
    const std::string path = outcome.asset->url().path();
    EXPECT_EQ(std::filesystem::path(path).parent_path(),
              std::filesystem::path(platform::AppContainer::documentsDirectory()));
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(),
                                 std::regex(R"(picture_\d{17,}\.jpg)")));
    auto bytes = platform::FileManager::defaultManager().contentsOfFile(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, *picture->jpegData(1.0));
}

TEST_F(PMediaLibraryServiceTest, APackedPictureIsUprightAndAtMostThreeMegabytes) {
    auto sideways = noisePicture(3000, 2000)->withOrientation(platform::Image::Orientation::right);
    ASSERT_TRUE(sideways->jpegData(1.0));
    ASSERT_GT(sideways->jpegData(1.0)->size(), 3u * 1024 * 1024);
    Picker::scriptNextResult(Picker::Result::picture(sideways));
    service->getImageFromLibraryNeedPack(true, record());
    ASSERT_TRUE(answered());
    ASSERT_TRUE(outcome.asset);
    auto bytes =
        platform::FileManager::defaultManager().contentsOfFile(outcome.asset->url().path());
    ASSERT_TRUE(bytes);
    EXPECT_LE(bytes->size(), 3u * 1024 * 1024);
    auto written = platform::Image::fromData(*bytes);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->pixelWidth(), 2000);
    EXPECT_EQ(written->pixelHeight(), 3000);
}

TEST_F(PMediaLibraryServiceTest, AnUnwritablePictureGivesAnErrorNotAnAsset) {
    // The clock stands still until the picture is written, so its name is known: a folder
    // of that name is in the way.
    const std::string path = platform::AppContainer::documentsDirectory() + "/picture_" +
                             PMediaLibraryService::getIdByTime() + ".jpg";
    std::filesystem::create_directories(path + "/occupied");
    Picker::scriptNextResult(
        Picker::Result::picture(platform::Image::filled(8, 8, {1, 2, 3, 255})));
    service->imageFromLibraryWithBlock(record());
    platform::MainThread::drain();
    ASSERT_TRUE(answered());
    EXPECT_FALSE(outcome.asset);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_TRUE(outcome.error);
}

TEST_F(PMediaLibraryServiceTest, LibraryMoviesComeAsFileAssetsAndEditedOnesAsACancel) {
    const std::string clip = home.path() + "/clip.mp4";
    ASSERT_TRUE(platform::testing::writeClip(clip, {.seconds = 0.5}).ok());
    for (bool edited : {false, true}) {
        SCOPED_TRACE(edited);
        library.reset();
        library.setAuthorizationStatus(Status::authorized);
        std::atomic<bool> added{false};
        library.performChanges(
            [&] {
                platform::AssetChangeRequest::creationRequestForAssetFromVideo(
                    platform::URL::fileURLWithPath(clip))
                    ->isComposition = edited;
            },
            [&](bool, std::optional<platform::Error>) { added = true; });
        ASSERT_TRUE(platform::testing::eventually([&] { return added.load(); }));
        auto stored = library.assets().front();
        Picker::scriptNextResult(Picker::Result::libraryMovie(stored->referenceURL()));
        outcome = {};
        service->movieFromLibraryWithBlock(record());
        ASSERT_TRUE(answered());
        if (edited) {
            EXPECT_TRUE(outcome.cancelled);
            EXPECT_FALSE(outcome.asset);
        } else {
            ASSERT_TRUE(outcome.asset);
            EXPECT_EQ(outcome.asset->url().path(), stored->path());
        }
    }
}

// Access denied shows the alert, whose first button opens the settings; access refused at the
// first request shows nothing. Either way the picker is not shown and the caller hears one
// cancel: for the alert, once it has been dismissed.
TEST_F(PMediaLibraryServiceTest, DeniedOrRefusedAccessAnswersACancelAfterTheAlert) {
    const struct {
        const char* name;
        Status status;
        int button;  // of the alert; -1 where there is none
    } cases[] = {
        {"denied, grant access", Status::denied, 0},
        {"denied, cancel", Status::denied, 1},
        {"refused at the first request", Status::notDetermined, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library.reset();
        library.setAuthorizationStatus(c.status);
        library.setAnswerToNextRequest(Status::denied);
        const auto opened = platform::Application::shared().openedURLs().size();
        int calls = 0;
        outcome = {};
        service->movieFromLibraryWithBlock(
            [&](platform::URLAssetPtr asset, bool cancelled, std::optional<platform::Error> error) {
                ++calls;
                outcome = Outcome{true, std::move(asset), cancelled, std::move(error)};
            });
        platform::MainThread::drain();
        auto alerts = ui::AlertView::visibleAlerts();
        if (c.button >= 0) {
            ASSERT_EQ(alerts.size(), 1u);
            EXPECT_EQ(alerts[0]->title(), "Access to photo library");
            EXPECT_EQ(alerts[0]->buttonTitles(),
                      (std::vector<std::string>{"Grant access", "Cancel"}));
            EXPECT_FALSE(outcome.called) << "not before the alert is dismissed";
            ASSERT_TRUE(alerts[0]->clickButton(c.button));
            const auto urls = platform::Application::shared().openedURLs();
            ASSERT_EQ(urls.size(), opened + (c.button == 0 ? 1 : 0));
            if (c.button == 0) {
                EXPECT_EQ(urls.back(), platform::Application::openSettingsURLString);
            }
        } else {
            EXPECT_TRUE(alerts.empty());
        }
        ASSERT_TRUE(platform::testing::eventually([&] { return outcome.called; }));
        EXPECT_FALSE(outcome.asset);
        EXPECT_TRUE(outcome.cancelled);
        EXPECT_FALSE(outcome.error);
        EXPECT_EQ(root->presentedViewController(), nullptr);
        platform::MainThread::drain();
        EXPECT_EQ(calls, 1);
    }
}

TEST_F(PMediaLibraryServiceTest, NoLibraryIsAnErrorAndAFirstAnswerOpensThePicker) {
    Picker::setPhotoLibraryAvailable(false);
    service->movieFromLibraryWithBlock(record());
    platform::MainThread::drain();
    ASSERT_TRUE(outcome.called);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), -999);
    EXPECT_EQ(outcome.error->domain(), "NSURLErrorDomain");

    Picker::setPhotoLibraryAvailable(true);
    library.reset();
    library.setAnswerToNextRequest(Status::authorized);
    service->movieFromLibraryWithBlock(record());
    ASSERT_TRUE(
        platform::testing::eventually([&] { return root->presentedViewController() != nullptr; }));
    EXPECT_EQ(library.authorizationStatus(), Status::authorized);
}

// With no window to show a picker in, both pickers answer at once with a cancel and let the
// screen sleep again, rather than leave the caller waiting.
TEST_F(PMediaLibraryServiceTest, WithNoKeyWindowEveryPickerAnswersACancel) {
    platform::Application::shared().setKeyWindow(nullptr);
    const struct {
        const char* name;
        std::function<void()> open;
    } pickers[] = {
        {"library",
         [&] {
             service->movieFromLibraryWithBlock(record());
         }},
        {"camera",
         [&] {
             service->getImageFromCameraNeedPack(false, record());
         }},
    };
    for (const auto& picker : pickers) {
        SCOPED_TRACE(picker.name);
        outcome = Outcome{};
        picker.open();
        ASSERT_TRUE(answered());
        EXPECT_TRUE(outcome.cancelled);
        EXPECT_FALSE(outcome.asset);
        EXPECT_FALSE(outcome.error);
        EXPECT_FALSE(platform::Application::shared().isIdleTimerDisabled());
    }
}

TEST_F(PMediaLibraryServiceTest, TheCameraPickerCoversTheScreenWithEditingAndAMovieComesAsItsFile) {
    service->getMovieFromCameraWithBlock(record());
    platform::MainThread::drain();
    auto picker = std::dynamic_pointer_cast<Picker>(root->presentedViewController());
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->sourceType(), Picker::SourceType::camera);
    EXPECT_TRUE(picker->allowsEditing());
    EXPECT_EQ(picker->modalPresentationStyle(),
              ui::ViewController::ModalPresentationStyle::overFullScreen);
    EXPECT_EQ(picker->mediaTypes(), std::vector<std::string>{"public.movie"});

    const auto movie = platform::URL::fileURLWithPath(home.path() + "/taken.mov");
    Picker::scriptNextResult(Picker::Result::movie(movie));
    ASSERT_TRUE(answered());
    ASSERT_TRUE(outcome.asset);
    EXPECT_EQ(outcome.asset->url(), movie);
    EXPECT_EQ(picker->delegate().lock(), nullptr);
}

// The flattened copy: drawn upright on black at the screen's scale, handed back at the
// source's scale.
TEST(PMediaLibraryServiceImageTest, AConstrainedImageIsTheSourceFlattenedUpright) {
    platform::Screen::main().setScale(2);
    EXPECT_FALSE(PMediaLibraryService::createImageConstrainedFromImage(nullptr));
    // 10 x 6 stored pixels: the left half opaque red, the right half transparent.
    std::vector<std::uint8_t> rgba(10 * 6 * 4, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 5; ++x) {
            rgba[(y * 10 + x) * 4] = 255;
            rgba[(y * 10 + x) * 4 + 3] = 255;
        }
    const auto source = platform::Image::make(10, 6, rgba);
    ASSERT_TRUE(source);
    const platform::Image::Pixel red{255, 0, 0, 255}, black{0, 0, 0, 255};

    const auto flat = PMediaLibraryService::createImageConstrainedFromImage(source);
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->pixelWidth(), 20);
    EXPECT_EQ(flat->pixelHeight(), 12);
    EXPECT_EQ(flat->scale(), 1.0);
    EXPECT_EQ(flat->orientation(), platform::Image::Orientation::up);
    EXPECT_EQ(flat->pixelAt(3, 6), red);
    EXPECT_EQ(flat->pixelAt(17, 6), black) << "opaque where the source is transparent";

    // Stored turned: drawn as it is seen, a quarter turn clockwise (red on top).
    const auto turned = PMediaLibraryService::createImageConstrainedFromImage(
        source->withOrientation(platform::Image::Orientation::right));
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->pixelWidth(), 12);
    EXPECT_EQ(turned->pixelHeight(), 20);
    EXPECT_EQ(turned->pixelAt(6, 3), red);
    EXPECT_EQ(turned->pixelAt(6, 17), black);
}

}  // namespace
}  // namespace pindle
