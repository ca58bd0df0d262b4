// PNLocalVideoUploads: the upload records and claims as the local video cache reads them. The
// records (PNUploadingStateManager) and the claims (legacy::PUploadClaim) live with the uploads,
// above the caches (an upload converts into and sends from the files this cache lists), so the
// cache never includes them: the uploads install their side as the library loads
// (PNUploadingStateManager.cpp). Before that, during static initialisation only, the cache sees
// no record and no claim.
//
// Thread-safety: install() and current() may be called from any thread; current() returns the
// uploads with no lock held. The operations are safe from any thread and call back only where
// said, on the caller's thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"

namespace pindle {

class PNLocalVideoUploads {
  public:
    virtual ~PNLocalVideoUploads() = default;

    // The identifiers of the stored records, in stored order, whose recording is not complete /
    // that are uploaded.
    virtual std::vector<std::string> unfinishedRecordingIDs() const = 0;
    virtual std::vector<std::string> uploadedIDs() const = 0;
    // The videos of the stored records whose recording is complete, oldest record first (equal
    // dates in stored order); a record that makes no video is left out.
    virtual std::vector<PNVideoPtr> recordedVideos() const = 0;

    // Whether a live process, this one included, holds the video's claim now.
    virtual bool isClaimed(const std::string& videoID) const = 0;
    // Runs `action` holding the video's claim when no live process holds it; nothing when one
    // does, nor for an identifier that may name no file.
    virtual void whileUnclaimed(const std::string& videoID,
                                const std::function<void()>& action) const = 0;
    // Drops the video's entry in the uploads list and its record.
    virtual void remove(const std::string& videoID) const = 0;

    // The installed uploads, or ones with no record and no claim when none are installed yet.
    static std::shared_ptr<const PNLocalVideoUploads> current();
    static void install(std::shared_ptr<const PNLocalVideoUploads> uploads);
};

}  // namespace pindle
