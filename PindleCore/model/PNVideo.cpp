#include "PindleCore/model/PNVideo.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNDataValidator.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/playlists/PNVideoSyncService.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

PNVideo::PNVideo(Private, Fields f)
    : videoID_(std::move(f.videoID)),
      mediaMP4URL360p_(std::move(f.mediaMP4URL360p)),
      mediaMP4URL540p_(std::move(f.mediaMP4URL540p)),
      mediaMP4URL720p_(std::move(f.mediaMP4URL720p)),
      mediaHLSURL_(std::move(f.mediaHLSURL)),
      shareURL_(std::move(f.shareURL)),
      location_(std::move(f.location)),
      creationDate_(f.creationDate),
      shotOn_(f.shotOn),
      modifyDate_(f.modifyDate),
      title_(std::move(f.title)),
      videoDescription_(std::move(f.videoDescription)),
      thumbnailImageURL_(std::move(f.thumbnailImageURL)),
      duration_(f.duration),
      height_(f.height),
      width_(f.width),
      state_(f.state),
      transcription_(std::move(f.transcription)),
      internalTags_(std::move(f.tags)),
      internalMetadata_(std::move(f.metadata)) {}

std::shared_ptr<PNVideo> PNVideo::make(Fields fields) {
    return std::make_shared<PNVideo>(Private{}, std::move(fields));
}

std::optional<platform::URL> PNVideo::mp4URL(PNVideoResolution resolution) const {
    const MediaMP4URLs urls = mediaMP4URLs();
    std::optional<URL> found;
    switch (resolution) {
        case PNVideoResolution::r720p:
            found = urls.r720p;
            break;
        case PNVideoResolution::r540p:
            found = urls.r540p ? urls.r540p : urls.r720p;
            break;
        case PNVideoResolution::r360p:
            found = urls.r360p ? urls.r360p : urls.r540p ? urls.r540p : urls.r720p;
            break;
    }
    return found ? found : urls.r720p;
}

PNVideo::MediaMP4URLs PNVideo::mediaMP4URLs() const {
    std::lock_guard lock(mutex_);
    return {mediaMP4URL360p_, mediaMP4URL540p_, mediaMP4URL720p_};
}

void PNVideo::setMediaMP4URLs(MediaMP4URLs urls) {
    std::lock_guard lock(mutex_);
    mediaMP4URL360p_ = std::move(urls.r360p);
    mediaMP4URL540p_ = std::move(urls.r540p);
    mediaMP4URL720p_ = std::move(urls.r720p);
}

std::size_t PNVideo::hash() const {
    return std::hash<std::string>{}(videoID_);
}

}  // namespace pindle

// --- Tags, metadata and rating --------------------------------------------------------------

namespace pindle {

namespace {

constexpr const char* ratingKey = "__rating__";
constexpr const char* ratedIdentitiesKey = "__rated_identities__";
constexpr char identitySeparator = ',';

std::string joinIdentities(const std::vector<std::string>& identities) {
    std::string joined;
    for (std::size_t i = 0; i < identities.size(); ++i) {
        if (i)
            joined += identitySeparator;
        joined += identities[i];
    }
    return joined;
}

std::vector<std::string> splitIdentities(const std::string& text) {
    return platform::Text::split(text, identitySeparator, true);
}

// An optional sign followed by decimal digits that fit 64 bits; 0 otherwise.
std::int64_t readRating(const platform::StringDictionary& metadata) {
    auto it = metadata.find(ratingKey);
    if (it == metadata.end())
        return 0;
    return platform::Text::signedInt64Value(it->second).value_or(0);
}

// The identity rating operations act for: the argument, else the session token, else the API
// token. An empty identity, or one holding the separator, could never be found again in the
// stored list, so it counts as no identity.
std::optional<std::string> resolveIdentity(const std::optional<std::string>& identity) {
    std::optional<std::string> resolved = identity;
    if (!resolved) {
        const std::shared_ptr<PNSession>& session = PNSession::current();
        resolved = session->sessionToken();
        if (!resolved)
            resolved = session->apiToken();
    }
    if (!resolved || resolved->empty() || resolved->find(identitySeparator) != std::string::npos) {
        return std::nullopt;
    }
    return resolved;
}

}  // namespace

const std::vector<std::string>& PNVideo::privateMetadataKeys() {
    static const auto* keys = new std::vector<std::string>{ratingKey, ratedIdentitiesKey};
    return *keys;
}

platform::StringDictionary PNVideo::metadata() const {
    platform::StringDictionary visible = internalMetadata();
    for (const std::string& key : privateMetadataKeys()) visible.erase(key);
    return visible;
}

void PNVideo::assignMetadata(platform::StringDictionary metadata) {
    if (std::optional<PNError> error = PNDataValidator::validateMetadata(metadata)) {
        postValidationError(*error);
        return;
    }
    PNVideoSyncService::sharedInstance().queue(videoID_, "PNVideo", "metadata",
                                               platform::Value(metadata));
    setInternalMetadata(std::move(metadata));
}

platform::StringDictionary PNVideo::mergedMetadata(const platform::StringDictionary& metadata,
                                                   bool reset) const {
    const platform::StringDictionary stored = internalMetadata();
    if (!reset) {
        platform::StringDictionary merged = stored;
        for (const auto& [key, value] : metadata) merged[key] = value;
        return merged;
    }
    platform::StringDictionary merged = metadata;
    for (const std::string& key : privateMetadataKeys()) {
        auto found = stored.find(key);
        if (found != stored.end())
            merged[key] = found->second;
    }
    return merged;
}

void PNVideo::setMetadata(const platform::StringDictionary& metadata, bool reset) {
    assignMetadata(mergedMetadata(metadata, reset));
}

std::int64_t PNVideo::rating() const {
    return readRating(internalMetadata());
}

void PNVideo::setRating(std::int64_t rating) {
    setMetadata({{ratingKey, std::to_string(rating)}}, false);
}

std::vector<std::string> PNVideo::ratedIdentities() const {
    const platform::StringDictionary stored = internalMetadata();
    auto it = stored.find(ratedIdentitiesKey);
    return it == stored.end() ? std::vector<std::string>{} : splitIdentities(it->second);
}

void PNVideo::setRatedIdentities(const std::vector<std::string>& identities) {
    setMetadata({{ratedIdentitiesKey, joinIdentities(identities)}}, false);
}

bool PNVideo::isRated(const std::optional<std::string>& identity) const {
    std::optional<std::string> resolved = resolveIdentity(identity);
    if (!resolved)
        return false;
    std::vector<std::string> identities = ratedIdentities();
    return std::find(identities.begin(), identities.end(), *resolved) != identities.end();
}

void PNVideo::rate(const std::optional<std::string>& identity, std::int64_t increment) {
    std::optional<std::string> resolved = resolveIdentity(identity);
    if (!resolved)
        return;
    const bool rated = isRated(resolved);
    const bool rates = !rated && increment >= 0;
    const bool withdraws = rated && increment < 0;
    if (!rates && !withdraws)
        return;

    std::int64_t newRating = 0;
    if (__builtin_add_overflow(rating(), increment, &newRating))
        return;

    std::vector<std::string> identities = ratedIdentities();
    if (rates) {
        identities.push_back(*resolved);
    } else {
        identities.erase(std::find(identities.begin(), identities.end(), *resolved));
    }

    // Check both writes before making either, so the counter never moves without its identity.
    platform::StringDictionary withIdentities =
        mergedMetadata({{ratedIdentitiesKey, joinIdentities(identities)}}, false);
    platform::StringDictionary withBoth = withIdentities;
    withBoth[ratingKey] = std::to_string(newRating);
    std::optional<PNError> error = PNDataValidator::validateMetadata(withIdentities);
    if (!error)
        error = PNDataValidator::validateMetadata(withBoth);
    if (error) {
        postValidationError(*error);
        return;
    }
    assignMetadata(std::move(withIdentities));
    assignMetadata(std::move(withBoth));
}

void PNVideo::postValidationError(const PNError& error) {
    platform::NotificationCenter::defaultCenter().post(
        NotificationName::PNMetadataValidationError, platform::Value(shared_from_this()),
        {{"error", platform::Value(error.toPlatformError())}});
}

}  // namespace pindle

// --- Dictionary encoding --------------------------------------------------------------------

namespace pindle {

namespace {

platform::Value urlText(const std::optional<platform::URL>& url) {
    return url ? platform::Value(url->absoluteString()) : platform::Value("");
}

platform::Value dateText(const std::optional<platform::Date>& date) {
    return date ? platform::Value(toString(*date)) : platform::Value();
}

platform::Value coordinateText(const std::optional<platform::Location>& location, bool latitude) {
    if (!location)
        return platform::Value("");
    double degrees = latitude ? location->coordinate().latitude : location->coordinate().longitude;
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, degrees, std::chars_format::fixed, 6);
    if (error != std::errc())
        return platform::Value("");
    return platform::Value(std::string(buffer, end));
}

const platform::Value* find(const platform::Dictionary& data, const char* key) {
    auto it = data.find(key);
    return it == data.end() ? nullptr : &it->second;
}

std::optional<std::string> stringAt(const platform::Dictionary& data, const char* key) {
    const platform::Value* value = find(data, key);
    if (!value || !value->asString())
        return std::nullopt;
    return *value->asString();
}

std::optional<platform::URL> urlAt(const platform::Dictionary& data, const char* key) {
    std::optional<std::string> text = stringAt(data, key);
    return text ? platform::URL::fromString(*text) : std::nullopt;
}

std::optional<platform::Date> dateAt(const platform::Dictionary& data, const char* key) {
    std::optional<std::string> text = stringAt(data, key);
    return text ? parseDate(*text) : std::nullopt;
}

std::int64_t wholeNumberAt(const platform::Dictionary& data, const char* key) {
    const platform::Value* value = find(data, key);
    return value ? value->asWholeNumber().value_or(0) : 0;
}

// The whole text as a decimal number, read the same way whatever the process locale.
double coordinateAt(const platform::Dictionary& data, const char* key) {
    std::optional<std::string> text = stringAt(data, key);
    if (!text)
        return 0;
    std::string_view digits = *text;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
        return 0;
    }
    return value;
}

}  // namespace

platform::Dictionary PNVideo::encode() const {
    std::lock_guard lock(mutex_);
    platform::Array tags;
    for (const std::string& tag : internalTags_) tags.emplace_back(tag);
    return {
        {"id", videoID_},
        {"width", width_},
        {"height", height_},
        {"shareURL", urlText(shareURL_)},
        {"mediaMP4URL360p", urlText(mediaMP4URL360p_)},
        {"mediaMP4URL540p", urlText(mediaMP4URL540p_)},
        {"mediaMP4URL720p", urlText(mediaMP4URL720p_)},
        {"mediaHLSURL", urlText(mediaHLSURL_)},
        {"thumbnailImageURL", urlText(thumbnailImageURL_)},
        {"latitude", coordinateText(location_, true)},
        {"longitude", coordinateText(location_, false)},
        {"metadata", platform::Value(internalMetadata_)},
        {"tags", std::move(tags)},
        {"shotOn", dateText(shotOn_)},
        {"createdAt", dateText(creationDate_)},
        {"modifyDate", dateText(modifyDate_)},
        {"title", title_},
        {"videoDescription", videoDescription_},
        {"duration", duration_},
        {"state", std::string(rawValue(state_))},
        {"transcription", transcription_ ? platform::Value(*transcription_) : platform::Value()},
    };
}

std::shared_ptr<PNVideo> PNVideo::decode(const platform::Dictionary& data) {
    std::optional<std::string> videoID = stringAt(data, "id");
    std::optional<platform::Date> createdAt = dateAt(data, "createdAt");
    std::optional<platform::Date> shotOn = dateAt(data, "shotOn");
    if (!videoID || !createdAt || !shotOn)
        return nullptr;

    Fields fields;
    fields.videoID = std::move(*videoID);
    if (const platform::Value* tags = find(data, "tags"); tags && tags->isArray()) {
        fields.tags = tags->asStringSetLoosely().value_or(platform::StringSet{});
    }
    if (const platform::Value* metadata = find(data, "metadata")) {
        fields.metadata = metadata->asStringDictionary().value_or(platform::StringDictionary{});
    }
    fields.width = wholeNumberAt(data, "width");
    fields.height = wholeNumberAt(data, "height");
    fields.mediaMP4URL360p = urlAt(data, "mediaMP4URL360p");
    fields.mediaMP4URL540p = urlAt(data, "mediaMP4URL540p");
    fields.mediaMP4URL720p = urlAt(data, "mediaMP4URL720p");
    fields.location =
        platform::Location(coordinateAt(data, "latitude"), coordinateAt(data, "longitude"));
    fields.shotOn = *shotOn;
    fields.creationDate = createdAt;
    fields.modifyDate = dateAt(data, "modifyDate");
    fields.title = stringAt(data, "title").value_or("");
    fields.thumbnailImageURL = urlAt(data, "thumbnailImageURL");
    if (std::optional<std::string> state = stringAt(data, "state")) {
        fields.state = videoStateFromRawValue(*state).value_or(PNVideoState::unknown);
    }
    fields.transcription = stringAt(data, "transcription");
    return make(std::move(fields));
}

}  // namespace pindle
