// PNUploadingState: the persistent record of one video on its way from the device to the
// backend: what was known about the video when it was handed over (identifier, tags, metadata,
// size, place, title, description, shot-on date, resolutions to send) and how far its upload
// has come (resolutions sent, resumable-upload address and expiry, recording complete, bytes
// sent, uploaded, synced, converted, imported).
//
// The list encoding (encode(list) / decode(bytes)) is the format of the records file
// "uploadingData": {"data":[record, ...]}, each record a dictionary of 21 fixed keys. Other
// versions of the SDK read that file, so the keys and value kinds must not change.
//
// Records are snapshots: the storage builds a fresh object on every read, and a change made to
// one reaches the file only when it is put back through PNUploadingStateManager.
//
// Thread-safety: a record has no lock. Share it between threads only for reading; the upload
// state manager is the one writer of stored records. bytes() and totalBytesToUpload() read file
// attributes on the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNUploadingState : public platform::Object {
  public:
    // Every field of the record. The upload address and its expiry have no constructor
    // argument in the legacy interface; they start absent and are set through the manager.
    struct Fields {
        std::string videoID;
        platform::StringSet tags;
        platform::StringDictionary metadata;
        std::int64_t width = 0;
        std::int64_t height = 0;
        double latitude = 0;
        double longitude = 0;
        std::string title;
        std::string descr;
        platform::Date shotOn;
        platform::Date createdAt;
        std::vector<std::string> resolutionsToUpload;
        std::vector<std::string> resolutionsUploaded;
        bool isRecordingComplete = false;
        std::int64_t bytesUploaded = 0;
        bool isUploaded = false;
        bool isSynced = false;
        bool isConverted = false;
        bool isImported = false;
    };

    explicit PNUploadingState(Fields fields);
    // The constructor the legacy publishing code uses.
    static std::shared_ptr<PNUploadingState> internalObjCInit(Fields fields);

    // The dictionary form with all 21 keys; absent address and expiry are explicit nulls.
    platform::Dictionary encode() const;
    // The record of a dictionary form; nothing when one of the 19 required keys is missing,
    // null or of another kind.
    static std::shared_ptr<PNUploadingState> decode(const platform::Dictionary& dictionary);

    // {"data":[...]} as compact JSON; nothing when some record cannot be serialised (a text
    // that is not UTF-8, a latitude that is not finite).
    static std::optional<platform::Data> encode(
        const std::vector<std::shared_ptr<PNUploadingState>>& records);
    // The records of a list document, undecodable elements left out; nothing when the bytes
    // are not JSON, the top level is not an object or "data" is not a list of objects.
    static std::optional<std::vector<std::shared_ptr<PNUploadingState>>> decode(
        const platform::Data& bytes);

    // Field equality, ignoring shotOn, createdAt and the upload address and its expiry.
    bool isEqual(const std::shared_ptr<const platform::Object>& other) const;

    // Size of this video's local media file of `resolution`; 0 when missing or unreadable.
    std::int64_t bytes(const std::string& resolution) const;
    // 0 until the video is converted; then the sum of bytes() over resolutionsToUpload.
    std::int64_t totalBytesToUpload() const;
    // True when the only resolution to send is the recorded one ("720p").
    bool requireConvert() const;

    // Fixed at construction.
    const std::string& videoID() const { return videoID_; }
    const platform::StringDictionary& metadata() const { return metadata_; }
    const platform::StringSet& tags() const { return tags_; }
    std::int64_t height() const { return height_; }
    std::int64_t width() const { return width_; }
    double latitude() const { return latitude_; }
    double longitude() const { return longitude_; }
    const std::string& title() const { return title_; }
    const std::string& descr() const { return descr_; }
    platform::Date shotOn() const { return shotOn_; }
    const std::vector<std::string>& resolutionsToUpload() const { return resolutionsToUpload_; }

    // Changeable.
    platform::Date createdAt() const { return createdAt_; }
    void setCreatedAt(platform::Date value) { createdAt_ = value; }
    const std::vector<std::string>& resolutionsUploaded() const { return resolutionsUploaded_; }
    void setResolutionsUploaded(std::vector<std::string> value) {
        resolutionsUploaded_ = std::move(value);
    }
    const std::optional<platform::URL>& urlToUpload() const { return urlToUpload_; }
    void setUrlToUpload(std::optional<platform::URL> value) { urlToUpload_ = std::move(value); }
    const std::optional<platform::Date>& urlExpirationDate() const { return urlExpirationDate_; }
    void setUrlExpirationDate(std::optional<platform::Date> value) { urlExpirationDate_ = value; }
    bool isRecordingComplete() const { return isRecordingComplete_; }
    void setIsRecordingComplete(bool value) { isRecordingComplete_ = value; }
    std::int64_t bytesUploaded() const { return bytesUploaded_; }
    void setBytesUploaded(std::int64_t value) { bytesUploaded_ = value; }
    bool isUploaded() const { return isUploaded_; }
    void setIsUploaded(bool value) { isUploaded_ = value; }
    bool isSynced() const { return isSynced_; }
    void setIsSynced(bool value) { isSynced_ = value; }
    bool isConverted() const { return isConverted_; }
    void setIsConverted(bool value) { isConverted_ = value; }
    bool isImported() const { return isImported_; }
    void setIsImported(bool value) { isImported_ = value; }

  private:
    std::string videoID_;
    platform::StringDictionary metadata_;
    platform::StringSet tags_;
    std::int64_t height_;
    std::int64_t width_;
    double latitude_;
    double longitude_;
    std::string title_;
    std::string descr_;
    platform::Date shotOn_;
    std::vector<std::string> resolutionsToUpload_;
    platform::Date createdAt_;
    std::vector<std::string> resolutionsUploaded_;
    std::optional<platform::URL> urlToUpload_;
    std::optional<platform::Date> urlExpirationDate_;
    bool isRecordingComplete_;
    std::int64_t bytesUploaded_;
    bool isUploaded_;
    bool isSynced_;
    bool isConverted_;
    bool isImported_;
};

using PNUploadingStatePtr = std::shared_ptr<PNUploadingState>;
// A record as stored, shared rather than copied: nobody changes it.
using PNStoredUploadingStatePtr = std::shared_ptr<const PNUploadingState>;

}  // namespace pindle
