// PNVideo: the record of one video kept by the backend.
//
// Records are shared by reference (std::shared_ptr<PNVideo>): caches, playlists, players and
// the host see one object, and a change made in place is seen by every holder. Two records are
// equal (operator==) when their identifiers are equal; the platform hash is the identifier's.
//
// The host reads the public fields and changes a record only through setMetadata() and rate();
// the write accessors and the media addresses are for the library's own code. The player takes
// the address to play from mp4URL(), which falls back only to higher renditions and never to HLS.
//
// Thread-safety: a record is read and changed from many threads at once (the live
// notifications patch media addresses while players and playlists read them, the sync service
// lays pending edits over fetched records, the host edits metadata). Every field but the
// identifier, which never changes, is guarded by one small lock per record: each read returns
// a copy taken under it and each write replaces a field (or the three MP4 addresses, or the
// whole metadata) under it, so no reader ever sees a half-written value. The lock is never held
// while calling out. A read-modify-write made of several calls (setMetadata() merging, rate())
// is not atomic: two such edits of one record from two threads at once may lose one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "PindleCore/model/PNVideoState.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/location/Location.hpp"

namespace pindle {

class PNVideo : public platform::Object {
  public:
    using URL = platform::URL;
    using Date = platform::Date;
    using Location = platform::Location;

    // Stores every argument unchanged; `tags` and `metadata` (hidden rating entries included)
    // go to internalTags and internalMetadata. Validates, queues and posts nothing.
    struct Fields {
        std::string videoID;
        platform::StringSet tags;
        platform::StringDictionary metadata;
        std::optional<URL> shareURL;
        std::int64_t width = 0;
        std::int64_t height = 0;
        std::optional<URL> mediaMP4URL360p;
        std::optional<URL> mediaMP4URL540p;
        std::optional<URL> mediaMP4URL720p;
        std::optional<URL> mediaHLSURL;
        std::optional<Location> location;
        Date shotOn;
        std::optional<Date> creationDate;
        std::optional<Date> modifyDate;
        std::string title;
        std::string videoDescription;
        std::optional<URL> thumbnailImageURL;
        double duration = 0;
        PNVideoState state = PNVideoState::unknown;
        std::optional<std::string> transcription;
    };
    static std::shared_ptr<PNVideo> make(Fields fields);

    // The media address to play at `resolution`: 540p falls back to 720p, 360p to 540p and
    // then 720p. Nothing when the chain finds no address.
    std::optional<URL> mp4URL(PNVideoResolution resolution) const;

    bool operator==(const PNVideo& other) const { return videoID_ == other.videoID_; }
    std::size_t hash() const override;

    // Tags, metadata and rating. The rating lives in two hidden metadata entries
    // ("__rating__" and "__rated_identities__") so that it travels with the ordinary metadata.

    // The hidden metadata keys, in order.
    static const std::vector<std::string>& privateMetadataKeys();

    platform::StringSet tags() const { return read(internalTags_); }
    // Replaces the tags; nothing is validated, queued or posted.
    void setTags(platform::StringSet tags) { write(internalTags_, std::move(tags)); }

    // The metadata without the hidden entries.
    platform::StringDictionary metadata() const;
    // The one road by which metadata changes: the whole dictionary (hidden entries included)
    // is validated; a refused one posts PNMetadataValidationError (object: this record, user
    // info {"error": the error}) on the calling thread and changes nothing; an accepted one is
    // queued whole with the sync service and then replaces the stored metadata.
    void assignMetadata(platform::StringDictionary metadata);
    // Merges `metadata` into the stored entries (reset false), or replaces them while keeping
    // the stored hidden entries (reset true), then writes the result through assignMetadata().
    void setMetadata(const platform::StringDictionary& metadata, bool reset = false);

    // The counter under "__rating__"; 0 when absent or not a decimal integer.
    std::int64_t rating() const;
    void setRating(std::int64_t rating);
    // The identities that rated, in order; empty pieces are dropped.
    std::vector<std::string> ratedIdentities() const;
    void setRatedIdentities(const std::vector<std::string>& identities);

    // Whether the identity (the argument, else the session token, else the API token) rated.
    bool isRated(const std::optional<std::string>& identity) const;
    // Rates (increment >= 0, not yet rated) or withdraws (increment < 0, rated); anything else
    // does nothing. The identity list and the counter are checked together before either is
    // written, so one never changes without the other.
    void rate(const std::optional<std::string>& identity, std::int64_t increment);

    // The record as a dictionary of plain values under the library's own 21 keys, and back.
    // decode() gives nothing without "id", "createdAt" or "shotOn".
    platform::Dictionary encode() const;
    static std::shared_ptr<PNVideo> decode(const platform::Dictionary& data);

    // Public fields. Each read is a copy taken under the record's lock.
    const std::string& videoID() const { return videoID_; }
    std::optional<URL> shareURL() const { return read(shareURL_); }
    std::optional<Location> location() const { return read(location_); }
    std::optional<Date> creationDate() const { return read(creationDate_); }
    std::optional<Date> shotOn() const { return read(shotOn_); }
    std::optional<Date> modifyDate() const { return read(modifyDate_); }
    std::string title() const { return read(title_); }
    std::string videoDescription() const { return read(videoDescription_); }
    std::optional<URL> thumbnailImageURL() const { return read(thumbnailImageURL_); }
    double duration() const { return read(duration_); }
    std::int64_t height() const { return read(height_); }
    std::int64_t width() const { return read(width_); }
    PNVideoState state() const { return read(state_); }
    std::optional<std::string> transcription() const { return read(transcription_); }

    // Library-internal fields and write accessors.
    std::optional<URL> mediaMP4URL360p() const { return read(mediaMP4URL360p_); }
    std::optional<URL> mediaMP4URL540p() const { return read(mediaMP4URL540p_); }
    std::optional<URL> mediaMP4URL720p() const { return read(mediaMP4URL720p_); }
    std::optional<URL> mediaHLSURL() const { return read(mediaHLSURL_); }
    platform::StringSet internalTags() const { return read(internalTags_); }
    platform::StringDictionary internalMetadata() const { return read(internalMetadata_); }

    // The three MP4 addresses, read or replaced together, so that a patch from a live
    // notification is seen whole or not at all.
    struct MediaMP4URLs {
        std::optional<URL> r360p;
        std::optional<URL> r540p;
        std::optional<URL> r720p;
    };
    MediaMP4URLs mediaMP4URLs() const;
    void setMediaMP4URLs(MediaMP4URLs urls);

    void setMediaMP4URL360p(std::optional<URL> value) { write(mediaMP4URL360p_, std::move(value)); }
    void setMediaMP4URL540p(std::optional<URL> value) { write(mediaMP4URL540p_, std::move(value)); }
    void setMediaMP4URL720p(std::optional<URL> value) { write(mediaMP4URL720p_, std::move(value)); }
    void setMediaHLSURL(std::optional<URL> value) { write(mediaHLSURL_, std::move(value)); }
    void setShareURL(std::optional<URL> value) { write(shareURL_, std::move(value)); }
    void setLocation(std::optional<Location> value) { write(location_, std::move(value)); }
    void setCreationDate(std::optional<Date> value) { write(creationDate_, value); }
    void setShotOn(std::optional<Date> value) { write(shotOn_, value); }
    void setModifyDate(std::optional<Date> value) { write(modifyDate_, value); }
    void setTitle(std::string value) { write(title_, std::move(value)); }
    void setVideoDescription(std::string value) { write(videoDescription_, std::move(value)); }
    void setThumbnailImageURL(std::optional<URL> value) {
        write(thumbnailImageURL_, std::move(value));
    }
    void setDuration(double value) { write(duration_, value); }
    void setHeight(std::int64_t value) { write(height_, value); }
    void setWidth(std::int64_t value) { write(width_, value); }
    void setState(PNVideoState value) { write(state_, value); }
    void setTranscription(std::optional<std::string> value) {
        write(transcription_, std::move(value));
    }
    void setInternalTags(platform::StringSet value) { write(internalTags_, std::move(value)); }
    void setInternalMetadata(platform::StringDictionary value) {
        write(internalMetadata_, std::move(value));
    }

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    // Use make(); the key keeps construction inside the class.
    PNVideo(Private, Fields fields);

  private:
    template <class T>
    T read(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    template <class T, class V>
    void write(T& field, V&& value) {
        std::lock_guard lock(mutex_);
        field = std::forward<V>(value);
    }

    platform::StringDictionary mergedMetadata(const platform::StringDictionary& metadata,
                                              bool reset) const;
    void postValidationError(const PNError& error);

    const std::string videoID_;
    mutable std::mutex mutex_;
    // Every field below is guarded by mutex_.
    std::optional<URL> mediaMP4URL360p_;
    std::optional<URL> mediaMP4URL540p_;
    std::optional<URL> mediaMP4URL720p_;
    std::optional<URL> mediaHLSURL_;
    std::optional<URL> shareURL_;
    std::optional<Location> location_;
    std::optional<Date> creationDate_;
    std::optional<Date> shotOn_;
    std::optional<Date> modifyDate_;
    std::string title_;
    std::string videoDescription_;
    std::optional<URL> thumbnailImageURL_;
    double duration_ = 0;
    std::int64_t height_ = 0;
    std::int64_t width_ = 0;
    PNVideoState state_ = PNVideoState::unknown;
    std::optional<std::string> transcription_;
    platform::StringSet internalTags_;
    platform::StringDictionary internalMetadata_;
};

using PNVideoPtr = std::shared_ptr<PNVideo>;

}  // namespace pindle
