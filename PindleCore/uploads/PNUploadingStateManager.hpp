// PNUploadingStateManager: the one door through which the SDK reads and changes upload
// records, kept in the records file by PNUploadingPersistentStorage, and the one feeder of the
// uploads list (PNUploads).
//
// Every operation that takes `fromObject` acts only for the internal-caller token
// (PNTokenObject::itsMe); any other caller is refused: nothing is read, changed or removed,
// the refusal is logged and a getter answers null or an empty list. The plain list operations
// (recordered, nonRecordered, uploaded) are open to every caller.
//
// Every stored change is first mirrored into the uploads list (which announces the change and
// posts the upload notifications) and then written to the file, so an observer of those
// notifications runs before the file changes. The records handed out are fresh snapshots:
// changing one changes nothing until it is put back.
//
// Thread-safety: safe from any thread. The token-guarded operations (except
// recorderedNonUploaded) run under one recursive lock for their whole body, so a read, change
// and store of a record never interleaves with another. That lock is deliberately held while
// the uploads list calls its observers, so the list and the file change in the same order; an
// observer may call back into the manager on its own thread (the lock re-enters) but must not
// wait for another thread that does. Lock order: the local video cache's lock before this one.
// The list operations take no lock: each reads the file once, which atomic rewrites keep whole.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/uploads/PNUploadingState.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNUploadingStateManager {
  public:
    using Caller = std::shared_ptr<platform::Object>;

    static PNUploadingStateManager& shared();

    PNUploadingStateManager(const PNUploadingStateManager&) = delete;
    PNUploadingStateManager& operator=(const PNUploadingStateManager&) = delete;

    // Stored records, in stored order, whose recording is complete / complete and not
    // uploaded / not complete / uploaded.
    std::vector<PNUploadingStatePtr> recordered() const;
    std::vector<PNUploadingStatePtr> recorderedNonUploaded(const Caller& fromObject) const;
    std::vector<PNUploadingStatePtr> nonRecordered() const;
    std::vector<PNUploadingStatePtr> uploaded() const;

    // For each identifier in order: drops its list entry, then its record.
    void remove(const std::vector<std::string>& videoIDs, const Caller& fromObject);
    void removeUploading(const std::string& videoID, const Caller& fromObject);
    // Drops the list entry only; the record stays and is restarted at the next start-up.
    void cancelUploading(const std::string& videoID, const Caller& fromObject);
    // The stored record of `videoID`, or null.
    PNUploadingStatePtr uploading(const std::string& videoID, const Caller& fromObject);
    // uploading() for a reader: the stored record itself, not a copy to change.
    PNStoredUploadingStatePtr storedUploading(const std::string& videoID, const Caller& fromObject);
    // Whether a record of `videoID` is stored; cheaper than uploading() when only that counts.
    bool hasUploading(const std::string& videoID, const Caller& fromObject);
    // Mirrors the record into the list, then stores it (replacing the record of its videoID).
    // REQUIRES: record is not null.
    void put(const PNUploadingStatePtr& record, const Caller& fromObject);

    // One field each; nothing happens for an identifier without a record.
    void confirmRecording(const std::string& videoID, const Caller& fromObject);
    void markUploaded(const std::string& videoID, const Caller& fromObject);
    void markSynced(const std::string& videoID, const Caller& fromObject);
    void markConverted(const std::string& videoID, const Caller& fromObject);
    // A growing count is stored with PNUploadingPersistentStorage::putProgress, so the records
    // file may lag behind it; readers in the process see it at once. False when there is no
    // record to change (or the caller is refused).
    bool updateDataUploaded(const std::string& videoID, std::int64_t bytes,
                            const Caller& fromObject);
    // Null URL or date clears the field.
    void updateUploadingURL(const std::string& videoID, std::optional<platform::URL> url,
                            std::optional<platform::Date> expirationDate, const Caller& fromObject);
    // Replaces the list of sent resolutions with exactly `resolutions`.
    void updateResolutionsUploaded(const std::string& videoID, std::vector<std::string> resolutions,
                                   const Caller& fromObject);
    void resetUploadedBytes(const std::string& videoID, const Caller& fromObject);
    void updateCreationDate(const std::string& videoID, platform::Date date,
                            const Caller& fromObject);
    // Makes every change `change` makes to the record in one store: one mirror into the list and
    // one write of the file, so a crash leaves either none of them or all. Nothing happens for an
    // identifier without a record.
    void updateFields(const std::string& videoID, const Caller& fromObject,
                      const std::function<void(PNUploadingState&)>& change);

  private:
    PNUploadingStateManager() = default;

    static bool admits(const Caller& fromObject, const char* operation);
    template <class Change>
    void updateField(const std::string& videoID, const Caller& fromObject, const char* operation,
                     Change&& change);

    // Serialises the token-guarded operations; the state it guards is the records file and the
    // uploads list. Recursive: the list's observers run under it and may call back in.
    std::recursive_mutex lock_;
};

}  // namespace pindle
