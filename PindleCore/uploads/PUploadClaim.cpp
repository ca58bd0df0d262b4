#include "PindleCore/uploads/PUploadClaim.hpp"

#include "PindleCore/logging/PLog.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle::legacy {

namespace {

std::string recordsFolder() {
    return platform::AppContainer::libraryPath() + "/" + PNUploadingPersistentStorage::folderName;
}

std::string claimsFolder() {
    return recordsFolder() + "/" + PUploadClaim::claimsFolderName;
}

}  // namespace

PUploadClaim::PUploadClaim(std::unique_ptr<platform::FileLock> lock, bool removeFile)
    : lock_(std::move(lock)), removeFile_(removeFile) {}

PUploadClaim::~PUploadClaim() {
    if (lock_ && removeFile_)
        lock_->removeAndRelease();
}

std::unique_ptr<PUploadClaim> PUploadClaim::tryTake(const std::string& folder,
                                                    const std::string& path, bool removeFile) {
    platform::FileManager::defaultManager().createDirectory(folder, true).ignoreError();
    platform::Error error;
    auto lock = platform::FileLock::tryAcquire(path, platform::FileLock::Kind::exclusive, &error);
    if (lock)
        return std::unique_ptr<PUploadClaim>(new PUploadClaim(std::move(lock), removeFile));
    if (error.domain().empty())
        return nullptr;
    PLOG_ERROR(PLog_Uploading, "PLog_Uploading %s cannot be locked, so it guards nothing: %s",
               path.c_str(), error.description().c_str());
    return std::unique_ptr<PUploadClaim>(new PUploadClaim(nullptr, removeFile));
}

std::unique_ptr<PUploadClaim> PUploadClaim::tryVideo(const std::string& videoID) {
    const std::string folder = claimsFolder();
    const auto path = PNSafePath::forIdentifier(folder, videoID, "");
    if (!path)
        return nullptr;
    return tryTake(folder, *path, true);
}

bool PUploadClaim::isVideoClaimed(const std::string& videoID) {
    const auto path = PNSafePath::forIdentifier(claimsFolder(), videoID, "");
    return path && platform::FileLock::isHeld(*path);
}

void PUploadClaim::removeStaleClaims() {
    const std::string folder = claimsFolder();
    const auto names = platform::FileManager::defaultManager().contentsOfDirectory(folder);
    if (!names)
        return;
    for (const std::string& name : *names) {
        const auto path = PNSafePath::inFolder(folder, name);
        if (!path)
            continue;
        if (auto stale = platform::FileLock::tryAcquire(*path))
            stale->removeAndRelease();
    }
}

std::unique_ptr<PUploadClaim> PUploadClaim::tryLane() {
    const std::string folder = recordsFolder();
    return tryTake(folder, folder + "/" + laneFileName, false);
}

}  // namespace pindle::legacy
