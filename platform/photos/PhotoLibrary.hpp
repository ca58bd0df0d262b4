// PhotoLibrary: the user's photo library, kept in a folder: the stored files and an index
// ("index.json": {"assets":[{"localIdentifier","mediaType","file","creationDate",
// "location","isComposition"}]}, written atomically), which survives restarts. The folder
// is AppContainer::home()/Device/PhotoLibrary by default, outside Documents; hosts may
// choose another.
//
// Access is scripted: the status starts as notDetermined, and requestAuthorization answers
// with setAnswerToNextRequest's status (authorized by default) and keeps it.
//
// Changes: performChanges runs its block on the library's serial queue; the change requests
// made in the block are then carried out in order. A video or picture must be readable
// media (MediaError-free), or the change fails with the code invalidResource; changes
// need authorized access (accessDenied otherwise). Nothing of a failed change is kept.
// Several processes may share the folder: a change reads the index again and writes it while
// holding the lock file "index.lock" beside it, so no process loses another's additions.
//
// Thread-safety: all operations are safe from any thread. Authorization answers and change
// completions run on a global queue, with no lock held.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/photos/AssetChangeRequest.hpp"
#include "platform/photos/PhotoAsset.hpp"

namespace pindle::platform {

class PhotoLibrary {
  public:
    enum class AuthorizationStatus {
        notDetermined = 0,
        restricted = 1,
        denied = 2,
        authorized = 3
    };
    static constexpr const char* errorDomain = "PHPhotosErrorDomain";
    static constexpr std::int64_t invalidResource = 3302;
    static constexpr std::int64_t accessDenied = 3311;
    static constexpr std::int64_t storageFailed = 3305;

    static PhotoLibrary& shared();
    PhotoLibrary(const PhotoLibrary&) = delete;
    PhotoLibrary& operator=(const PhotoLibrary&) = delete;

    // The folder; setting it reads that folder's index (a missing or unreadable index is an
    // empty library).
    std::string root() const;
    void setRoot(std::string path);

    AuthorizationStatus authorizationStatus() const;
    void setAuthorizationStatus(AuthorizationStatus status);
    void setAnswerToNextRequest(AuthorizationStatus status);
    // Asks the user when the status is notDetermined (the scripted answer becomes the
    // status); answers the status.
    void requestAuthorization(std::function<void(AuthorizationStatus)> handler);

    void performChanges(std::function<void()> changes,
                        std::function<void(bool success, std::optional<Error> error)> completion);

    // Oldest first; `type` unknown gives all.
    std::vector<PhotoAssetPtr> assets(
        PhotoAsset::MediaType type = PhotoAsset::MediaType::unknown) const;
    PhotoAssetPtr assetWithLocalIdentifier(const std::string& identifier) const;

    // Empties the library's index and files and resets the status and answer (for tests).
    void reset();

    // The request list of the change block running on the calling thread, if any.
    static std::vector<AssetChangeRequestPtr>* currentChangeList();

  private:
    PhotoLibrary();
    void loadLocked();
    platform::Status saveLocked() const;

    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::string root_;                                                 // guarded by mutex_
    std::vector<PhotoAsset::Record> records_;                          // guarded by mutex_
    AuthorizationStatus status_ = AuthorizationStatus::notDetermined;  // guarded by mutex_
    AuthorizationStatus answer_ = AuthorizationStatus::authorized;     // guarded by mutex_
};

}  // namespace pindle::platform
