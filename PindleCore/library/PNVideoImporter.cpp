#include "PindleCore/library/PNVideoImporter.hpp"

#include "platform/media/AssetExportSession.hpp"
#include "platform/photos/PhotoLibrary.hpp"

namespace pindle {

using platform::PhotoLibrary;
using Status = PhotoLibrary::AuthorizationStatus;

void PNVideoImporter::putToCameraRoll(const platform::URL& mp4, Completion completion) {
    auto& library = PhotoLibrary::shared();
    switch (library.authorizationStatus()) {
        case Status::authorized:
            putToCameraRollInternal(mp4, std::move(completion));
            return;
        case Status::notDetermined: {
            // The next step is overridable, so it is taken through this importer: kept alive
            // by the answer when shared, else looked for first.
            library.requestAuthorization([keep = weak_from_this().lock(),
                                          alive = std::weak_ptr<const bool>(alive_), this, mp4,
                                          completion](Status status) {
                const auto stillHere = alive.lock();
                if (status == Status::authorized && (keep || stillHere))
                    putToCameraRollInternal(mp4, completion);
                else if (completion)
                    completion(false, std::nullopt);
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
