// PNUploads: the public face of uploads: the observable list of videos on their way to the
// backend, one PNUpload entry per video, and the upload notifications.
//
// The list is fed by PNUploadingStateManager only: every record it stores passes through
// updateUpload() before it is written, every record it removes or cancels through
// removeUpload(). An entry exists for a record whose recording is complete and that still has
// something to do (not converted, or converted with bytes to send) and is not uploaded. Posted
// on the default notification center, object null:
//   PNVideoUploadsUpdated  {}                  after each change of the list;
//   PNVideoUploadComplete  {"upload": entry}   a record is stored as uploaded; the entry has
//                                              just left the list;
//   PNVideoUploadProgress  {"upload": entry}   each store of a record that has an entry (also
//                                              right after PNVideoUploadComplete).
// The list is key-value observable as "uploads" (an Array of the entries): will-change before
// and did-change after each change.
//
// The entry points that start and cancel uploads belong to the uploading service and join
// this facade with it.
//
// Thread-safety: safe from any thread. Announcements and notifications are delivered
// synchronously on the thread that stored the record (usually not the main thread), with the
// upload state manager's lock held, so the list and the records file change in one order;
// observers that touch the interface move to the main queue themselves and must not wait there
// for another thread that uses the manager. The facade holds no lock of its own while calling
// out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/uploads/PNUpload.hpp"
#include "PindleCore/uploads/PNUploadingState.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNUploads : public platform::KeyValueObservable {
  public:
    static constexpr const char* uploadsKey = "uploads";
    static constexpr const char* uploadUserInfoKey = "upload";

    // The thumbnail image of a local media file, or null (the image loader's job).
    using ThumbnailProvider =
        std::function<std::shared_ptr<platform::Object>(const platform::URL&)>;

    // Created on first use with an entry for every stored record that needs one, in record
    // order; that first filling announces and posts nothing.
    static PNUploads& shared();

    PNUploads(const PNUploads&) = delete;
    PNUploads& operator=(const PNUploads&) = delete;

    std::vector<PNUploadPtr> uploads() const;
    // Replaces the list (announced to observers; no notification is posted).
    void setUploads(std::vector<PNUploadPtr> uploads);

    platform::Value valueForKey(std::string_view key) const override;

    // Internal to the library.

    // Brings the entry of `record` up to date: creates it, updates it in place or drops it
    // when the record is uploaded, and posts as described above.
    // REQUIRES: record is not null.
    void updateUpload(const PNUploadingStatePtr& record);
    // Drops the entry of `videoID`, if any.
    void removeUpload(const std::string& videoID);

    // Where entries get their thumbnails; by default the image loader's first frame of the
    // file (a null provider leaves entries without a thumbnail).
    void setThumbnailProvider(ThumbnailProvider provider);

    // The fraction of the record's bytes sent, rounded to 0.01 (halves away from zero); 0
    // while nothing is to be sent; not clamped.
    static float uploadingProgress(const PNUploadingState& record);

    using UploadCompletion = std::function<void(const std::shared_ptr<PNVideo>& video,
                                                const std::optional<platform::Error>& error)>;
    // Starts the upload of an MP4 file. The completion runs once, on the caller's thread,
    // before the call returns: the new video, or PNError uploadFileNotFound (no file at the
    // URL's path) or incorrectFileType (an extension other than "mp4" in any letter case).
    void upload(const platform::URL& fileURL, const std::optional<platform::StringSet>& tags,
                const std::optional<platform::StringDictionary>& metadata,
                UploadCompletion completion);
    // The same, giving the new video a title.
    void upload(const platform::URL& fileURL, const std::optional<platform::StringSet>& tags,
                const std::optional<platform::StringDictionary>& metadata, const std::string& title,
                UploadCompletion completion);
    // Removes the video's upload record and local copy and cancels its running upload.
    void cancelUpload(const std::string& videoID);

  private:
    PNUploads();

    // `total` is the record's totalBytesToUpload(), read once by callers that need it twice
    // (it reads the files' sizes).
    static bool checkUploading(const PNUploadingState& record, std::int64_t total);
    static float uploadingProgress(const PNUploadingState& record, std::int64_t total);
    PNUploadPtr createUpload(const PNUploadingState& record) const;
    PNUploadPtr entry(const std::string& videoID) const;
    // Announces will-change, runs `change` on the list, announces did-change and posts
    // PNVideoUploadsUpdated.
    void updateUploads(const std::function<void(std::vector<PNUploadPtr>&)>& change);

    mutable std::mutex mutex_;
    std::vector<PNUploadPtr> uploads_;     // guarded by mutex_
    ThumbnailProvider thumbnailProvider_;  // guarded by mutex_
};

}  // namespace pindle
