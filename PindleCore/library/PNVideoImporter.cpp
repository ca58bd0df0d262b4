#include "PindleCore/library/PNVideoImporter.hpp"

#include <mutex>
#include <utility>

#include "platform/media/AssetExportSession.hpp"
#include "platform/photos/PhotoLibrary.hpp"

namespace pindle {

using platform::PhotoLibrary;
using Status = PhotoLibrary::AuthorizationStatus;

namespace {

// Holds back an answer the step gives while the importer is still held for it, so that the
// completion (which may destroy the importer) never runs inside that hold.
class HeldAnswer : public std::enable_shared_from_this<HeldAnswer> {
  public:
    explicit HeldAnswer(PNVideoImporter::Completion completion)
        : completion_(std::move(completion)) {}

    // The completion to hand to the step.
    PNVideoImporter::Completion completion() {
        return [self = shared_from_this()](bool success, std::optional<platform::Error> error) {
            {
                std::lock_guard lock(self->mutex_);
                if (self->holding_) {
                    self->answer_.emplace(success, std::move(error));
                    return;
                }
            }
            self->answer(success, std::move(error));
        };
    }
    // Passes on what came meanwhile; later answers go straight through.
    void release() {
        std::optional<std::pair<bool, std::optional<platform::Error>>> held;
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
            held = std::move(answer_);
        }
        if (held)
            answer(held->first, std::move(held->second));
    }

  private:
    void answer(bool success, std::optional<platform::Error> error) const {
        if (completion_)
            completion_(success, std::move(error));
    }

    const PNVideoImporter::Completion completion_;
    std::mutex mutex_;
    bool holding_ = true;                                                    // guarded by mutex_
    std::optional<std::pair<bool, std::optional<platform::Error>>> answer_;  // guarded by mutex_
};

}  // namespace

PNVideoImporter::~PNVideoImporter() {
    detachFromPendingAnswers();
}

void PNVideoImporter::detachFromPendingAnswers() {
    std::lock_guard lock(lifeline_->mutex);
    lifeline_->alive = false;
}

void PNVideoImporter::putToCameraRoll(const platform::URL& mp4, Completion completion) {
    auto& library = PhotoLibrary::shared();
    switch (library.authorizationStatus()) {
        case Status::authorized:
            putToCameraRollInternal(mp4, std::move(completion));
            return;
        case Status::notDetermined: {
            // The next step is overridable, so it is taken through this importer: kept alive
            // by the answer when shared; else used only while the lifeline says it exists,
            // and held there until the step returns.
            // by hand: a strong reference when there is an owner, none when there is not
            library.requestAuthorization([keep = weak_from_this().lock(), lifeline = lifeline_,
                                          this, mp4, completion](Status status) {
                if (status != Status::authorized) {
                    if (completion)
                        completion(false, std::nullopt);
                    return;
                }
                if (keep)
                    return putToCameraRollInternal(mp4, completion);
                auto held = std::make_shared<HeldAnswer>(completion);
                bool used = false;
                {
                    std::lock_guard lock(lifeline->mutex);
                    if (lifeline->alive) {
                        putToCameraRollInternal(mp4, held->completion());
                        used = true;
                    }
                }
                if (!used) {
                    if (completion)
                        completion(false, std::nullopt);
                    return;
                }
                held->release();
            });
            return;
        }
        case Status::denied:
        case Status::restricted:
            break;
    }
    if (completion)
        completion(false, std::nullopt);
}

void PNVideoImporter::putToCameraRollInternal(const platform::URL& mp4, Completion completion) {
    const platform::URL mov = mp4.deletingPathExtension().appendingPathExtension("mov");
    convert(mp4, mov, [mov, completion](bool success, std::optional<platform::Error> error) {
        if (!success) {
            if (completion)
                completion(false, std::move(error));
            return;
        }
        PhotoLibrary::shared().performChanges(
            [mov] { platform::AssetChangeRequest::creationRequestForAssetFromVideo(mov); },
            [completion](bool saved, std::optional<platform::Error> failure) {
                if (completion)
                    completion(saved, std::move(failure));
            });
    });
}

void PNVideoImporter::convert(const platform::URL& mp4, const platform::URL& mov,
                              Completion completion) {
    auto session = platform::AssetExportSession::make(
        platform::URLAsset::make(mp4), platform::AssetExportSession::presetPassthrough);
    if (!session) {
        if (completion)
            completion(false, std::nullopt);
        return;
    }
    session->setOutputURL(mov);
    session->setOutputFileType(platform::AssetExportSession::fileTypeQuickTimeMovie);
    session->exportAsynchronously([session, completion] {
        if (completion)
            completion(session->status() == platform::AssetExportSession::Status::completed,
                       session->error());
    });
}

}  // namespace pindle
