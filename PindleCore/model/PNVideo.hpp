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

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

    platform::StringSet tags() const { return internalTags(); }
    // Replaces the tags; nothing is validated, queued or posted.
    void setTags(platform::StringSet tags) { setInternalTags(std::move(tags)); }

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
    std::optional<URL> shareURL() const;
    std::optional<Location> location() const { return read(location_); }
    std::optional<Date> creationDate() const { return read(creationDate_); }
    std::optional<Date> shotOn() const { return read(shotOn_); }
    std::optional<Date> modifyDate() const { return read(modifyDate_); }
    std::string title() const { return read(title_); }
    std::string videoDescription() const;
    std::optional<URL> thumbnailImageURL() const;
    double duration() const;
    std::int64_t height() const { return read(height_); }
    std::int64_t width() const { return read(width_); }
    PNVideoState state() const { return read(state_); }
    std::optional<std::string> transcription() const;

    // Library-internal fields and write accessors.
    std::optional<URL> mediaMP4URL360p() const;
    std::optional<URL> mediaMP4URL540p() const;
    std::optional<URL> mediaMP4URL720p() const;
    std::optional<URL> mediaHLSURL() const;
    platform::StringSet internalTags() const;
    platform::StringDictionary internalMetadata() const;

    // The three MP4 addresses, read or replaced together, so that a patch from a live
    // notification is seen whole or not at all.
    struct MediaMP4URLs {
        std::optional<URL> r360p;
        std::optional<URL> r540p;
        std::optional<URL> r720p;
    };
    MediaMP4URLs mediaMP4URLs() const;
    void setMediaMP4URLs(MediaMP4URLs urls);

    void setMediaMP4URL360p(std::optional<URL> value);
    void setMediaMP4URL540p(std::optional<URL> value);
    void setMediaMP4URL720p(std::optional<URL> value);
    void setMediaHLSURL(std::optional<URL> value);
    void setShareURL(std::optional<URL> value);
    void setLocation(std::optional<Location> value) { write(location_, std::move(value)); }
    void setCreationDate(std::optional<Date> value) { write(creationDate_, value); }
    void setShotOn(std::optional<Date> value) { write(shotOn_, value); }
    void setModifyDate(std::optional<Date> value) { write(modifyDate_, value); }
    void setTitle(std::string value) { write(title_, std::move(value)); }
    void setVideoDescription(std::string value);
    void setThumbnailImageURL(std::optional<URL> value);
    void setDuration(double value);
    void setHeight(std::int64_t value) { write(height_, value); }
    void setWidth(std::int64_t value) { write(width_, value); }
    void setState(PNVideoState value) { write(state_, value); }
    void setTranscription(std::optional<std::string> value);
    void setInternalTags(platform::StringSet value);
    void setInternalMetadata(platform::StringDictionary value);

  private:
    struct Private {
        explicit Private() = default;
    };
    // The addresses most records have, kept in addresses_ in this order.
    enum Address : std::size_t { mp4360p, mp4540p, mp4720p, thumbnail, addressCount };
    // Their texts, empty for an address that is absent.
    using Addresses = std::array<std::string, addressCount>;

  public:
    // Use make(); the key keeps construction inside the class.
    PNVideo(Private, Fields fields);
    PNVideo(Private, Fields&& fields, const Addresses& addressTexts);

  private:
    friend class PNVideoMembers;

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

    static Addresses unpackedAddresses(std::string_view packed);
    static std::string packedAddresses(const Addresses& texts);
    // A record whose MP4 and thumbnail addresses are `texts` instead of the fields' (which are
    // ignored): a list's records are made without a URL for each address. REQUIRES: each text
    // is empty or URL::isValid().
    static std::shared_ptr<PNVideo> make(Fields fields, const Addresses& texts);
    // The texts of the fields' MP4 and thumbnail addresses.
    static Addresses addressTexts(const Fields& fields);
    std::optional<URL> address(Address which) const;
    void setAddress(Address which, const std::optional<URL>& value);

    // Fields few records have, kept apart so that the others do without their room.
    struct Extras {
        std::string shareURL;  // the address's text; empty when there is none
        std::string mediaHLSURL;
        std::string videoDescription;
        std::optional<std::string> transcription;
        double duration = 0;
    };
    // The extras to change, made on first use. REQUIRES: mutex_ held.
    Extras& extrasLocked();
    template <class T>
    T readExtra(T Extras::*field) const {
        std::lock_guard lock(mutex_);
        return extras_ ? (*extras_).*field : T();
    }

    // A list keeps thousands of records, so each is kept small: addresses, tags and metadata
    // are held as their texts packed into one string each (a length before each text) and made
    // into URLs, sets and dictionaries when read. An address's text is always a valid URL's, or
    // empty for none.
    const std::string videoID_;
    mutable std::mutex mutex_;
    // Every field below is guarded by mutex_.
    std::string addresses_;
    std::optional<Location> location_;
    std::optional<Date> creationDate_;
    std::optional<Date> shotOn_;
    std::optional<Date> modifyDate_;
    std::string title_;
    std::int64_t height_ = 0;
    std::int64_t width_ = 0;
    PNVideoState state_ = PNVideoState::unknown;
    std::string internalTags_;
    std::string internalMetadata_;  // keys and values in turn
    std::unique_ptr<Extras> extras_;
};

using PNVideoPtr = std::shared_ptr<PNVideo>;

}  // namespace pindle
