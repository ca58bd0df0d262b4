// PUploadClaim: what a process holds to carry uploads while other processes share its
// application home: the claim on one video, or the claim on the upload lane. Both are lock
// files (platform::FileLock) in the folder of the upload records, so the kernel drops them
// when their process ends, however it ends.
//
// A video's claim ("Library/p.sdk/claims/<videoID>") is held by the one live process that
// carries the video: the process the host handed the file to, from before the file enters the
// media folder until its upload has ended and been reported, or a process that took the video
// up at its start-up because nobody held it. No other process removes, restarts or converts
// again anything of a claimed video (its record, its media files, its conversion output).
//
// The lane's claim ("Library/p.sdk/uploading.lock") is held by the process whose range-upload
// operation is sending: one process sends at a time; the operations of the others wait.
//
// Where the folder cannot be made the claims guard nothing (a claim is then taken without a
// lock file, and logged): the process carries on as if it were alone.
//
// Thread-safety: the static operations are safe from any thread; a claim belongs to one holder
// at a time. Calls nothing back.
#pragma once

#include <memory>
#include <string>

#include "platform/files/FileLock.hpp"

namespace pindle::legacy {

class PUploadClaim {
  public:
    static constexpr const char* claimsFolderName = "claims";
    static constexpr const char* laneFileName = "uploading.lock";

    // The video's claim when no live process holds it; null when one does, and for an
    // identifier that may name no file.
    static std::unique_ptr<PUploadClaim> tryVideo(const std::string& videoID);
    // Whether a live process, this one included, holds the video's claim now.
    static bool isVideoClaimed(const std::string& videoID);
    // Removes the claim files left by processes that have ended.
    static void removeStaleClaims();

    // The lane's claim when no process holds it; null when one does.
    static std::unique_ptr<PUploadClaim> tryLane();

    // Lets the claim go; a video's claim file goes with it.
    ~PUploadClaim();
    PUploadClaim(const PUploadClaim&) = delete;
    PUploadClaim& operator=(const PUploadClaim&) = delete;

  private:
    PUploadClaim(std::unique_ptr<platform::FileLock> lock, bool removeFile);
    // Takes the lock at `path` in `folder` (made when missing) without waiting; null when
    // another holder has it.
    static std::unique_ptr<PUploadClaim> tryTake(const std::string& folder, const std::string& path,
                                                 bool removeFile);

    std::unique_ptr<platform::FileLock> lock_;  // null: nothing could be locked
    const bool removeFile_;
};

}  // namespace pindle::legacy
