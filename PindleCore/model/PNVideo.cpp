#include "PindleCore/model/PNVideo.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>

#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNDataValidator.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/private/PNSessionContext.hpp"
#include "PindleCore/model/private/PNVideoMetadataSink.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

// Texts packed one after another into one string, each after its length (seven bits a byte,
// lowest first, the top bit set on all but the last): many short texts then cost one
// allocation, or none when they fit in the string itself.
void appendPacked(std::string& packed, std::string_view text) {
    std::size_t length = text.size();
    while (length >= 0x80) {
        packed.push_back(static_cast<char>((length & 0x7F) | 0x80));
        length >>= 7;
    }
    packed.push_back(static_cast<char>(length));
    packed.append(text);
}

// Calls `each` with every text packed in `packed`, in order.
template <class Each>
void forEachPacked(std::string_view packed, Each&& each) {
    std::size_t at = 0;
    while (at < packed.size()) {
        std::size_t length = 0;
        for (int shift = 0; at < packed.size(); shift += 7) {
            const auto byte = static_cast<unsigned char>(packed[at++]);
            length |= static_cast<std::size_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                break;
        }
        each(packed.substr(at, length));
        at += length;
    }
}

// The room `text` takes packed.
std::size_t packedLength(std::string_view text) {
    std::size_t length = 1;
    for (std::size_t rest = text.size(); rest >= 0x80; rest >>= 7) ++length;
    return length + text.size();
}

// A packed string is built to size, so that it keeps no room to spare.
template <class Texts>
std::string packedTexts(const Texts& texts) {
    std::size_t length = 0;
    for (const std::string& text : texts) length += packedLength(text);
    std::string packed;
    packed.reserve(length);
    for (const std::string& text : texts) appendPacked(packed, text);
    return packed;
}

platform::StringSet unpackedSet(std::string_view packed) {
    platform::StringSet texts;
    forEachPacked(packed, [&](std::string_view text) { texts.emplace_hint(texts.end(), text); });
    return texts;
}

std::string packedDictionary(const platform::StringDictionary& entries) {
    std::size_t length = 0;
    for (const auto& [key, value] : entries) length += packedLength(key) + packedLength(value);
    std::string packed;
    packed.reserve(length);
    for (const auto& [key, value] : entries) {
        appendPacked(packed, key);
        appendPacked(packed, value);
    }
    return packed;
}

platform::StringDictionary unpackedDictionary(std::string_view packed) {
    platform::StringDictionary entries;
    std::optional<std::string_view> key;
    forEachPacked(packed, [&](std::string_view text) {
        if (!key) {
            key = text;
            return;
        }
        entries.emplace_hint(entries.end(), *key, text);
        key.reset();
    });
    return entries;
}

// An address's text, empty for none: no URL has empty text.
std::string textOf(const std::optional<platform::URL>& url) {
    return url ? url->absoluteString() : std::string();
}

std::optional<platform::URL> urlOf(std::string_view text) {
    return text.empty() ? std::nullopt : platform::URL::fromString(text);
}

}  // namespace

PNVideo::Addresses PNVideo::unpackedAddresses(std::string_view packed) {
    Addresses texts;
    std::size_t index = 0;
    forEachPacked(packed, [&](std::string_view text) {
        if (index < texts.size())
            texts[index++] = text;
    });
    return texts;
}

std::string PNVideo::packedAddresses(const Addresses& texts) {
    return packedTexts(texts);
}

PNVideo::Addresses PNVideo::addressTexts(const Fields& fields) {
    Addresses texts;
    texts[mp4360p] = textOf(fields.mediaMP4URL360p);
    texts[mp4540p] = textOf(fields.mediaMP4URL540p);
    texts[mp4720p] = textOf(fields.mediaMP4URL720p);
    texts[thumbnail] = textOf(fields.thumbnailImageURL);
    return texts;
}

PNVideo::PNVideo(Private key, Fields f) : PNVideo(key, std::move(f), addressTexts(f)) {}

PNVideo::PNVideo(Private, Fields&& f, const Addresses& texts)
    : videoID_(std::move(f.videoID)),
      addresses_(packedAddresses(texts)),
      location_(std::move(f.location)),
      creationDate_(f.creationDate),
      shotOn_(f.shotOn),
      modifyDate_(f.modifyDate),
      title_(std::move(f.title)),
      height_(f.height),
      width_(f.width),
      state_(f.state),
      internalTags_(packedTexts(f.tags)),
      internalMetadata_(packedDictionary(f.metadata)) {
    if (f.shareURL || f.mediaHLSURL || !f.videoDescription.empty() || f.transcription ||
        f.duration != 0) {
        extras_ = std::make_unique<Extras>(Extras{textOf(f.shareURL), textOf(f.mediaHLSURL),
                                                  std::move(f.videoDescription),
                                                  std::move(f.transcription), f.duration});
    }
}

std::shared_ptr<PNVideo> PNVideo::make(Fields fields) {
    return std::make_shared<PNVideo>(Private{}, std::move(fields));
}

std::shared_ptr<PNVideo> PNVideo::make(Fields fields, const Addresses& texts) {
    return std::make_shared<PNVideo>(Private{}, std::move(fields), texts);
}

std::optional<platform::URL> PNVideo::mp4URL(PNVideoResolution resolution) const {
    std::string packed;
    {
        std::lock_guard lock(mutex_);
        packed = addresses_;
    }
    const Addresses texts = unpackedAddresses(packed);
    // Each resolution falls back to the higher ones. Every text is a URL's or empty, so the
    // first one present from the resolution up is the answer, and only that one becomes a URL.
    constexpr std::array<Address, 3> lowestFirst = {mp4360p, mp4540p, mp4720p};
    std::size_t from = 0;
    switch (resolution) {
        case PNVideoResolution::r360p:
            from = 0;
            break;
        case PNVideoResolution::r540p:
            from = 1;
            break;
        case PNVideoResolution::r720p:
            from = 2;
            break;
    }
    for (std::size_t at = from; at < lowestFirst.size(); ++at) {
        if (const std::string& text = texts[lowestFirst[at]]; !text.empty())
            return urlOf(text);
    }
    return std::nullopt;
}

PNVideo::MediaMP4URLs PNVideo::mediaMP4URLs() const {
    std::string packed;
    {
        std::lock_guard lock(mutex_);
        packed = addresses_;
    }
    const Addresses texts = unpackedAddresses(packed);
    return {urlOf(texts[mp4360p]), urlOf(texts[mp4540p]), urlOf(texts[mp4720p])};
}

void PNVideo::setMediaMP4URLs(MediaMP4URLs urls) {
    std::lock_guard lock(mutex_);
    Addresses texts = unpackedAddresses(addresses_);
    texts[mp4360p] = textOf(urls.r360p);
    texts[mp4540p] = textOf(urls.r540p);
    texts[mp4720p] = textOf(urls.r720p);
    addresses_ = packedAddresses(texts);
}

std::optional<platform::URL> PNVideo::address(Address which) const {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        std::size_t index = 0;
        forEachPacked(addresses_, [&](std::string_view packed) {
            if (index++ == which)
                text = packed;
        });
    }
    return urlOf(text);
}

void PNVideo::setAddress(Address which, const std::optional<URL>& value) {
    std::string text = textOf(value);
    std::lock_guard lock(mutex_);
    Addresses texts = unpackedAddresses(addresses_);
    texts[which] = std::move(text);
    addresses_ = packedAddresses(texts);
}

std::optional<platform::URL> PNVideo::mediaMP4URL360p() const {
    return address(mp4360p);
}
std::optional<platform::URL> PNVideo::mediaMP4URL540p() const {
    return address(mp4540p);
}
std::optional<platform::URL> PNVideo::mediaMP4URL720p() const {
    return address(mp4720p);
}
std::optional<platform::URL> PNVideo::thumbnailImageURL() const {
    return address(thumbnail);
}
void PNVideo::setMediaMP4URL360p(std::optional<URL> value) {
    setAddress(mp4360p, value);
}
void PNVideo::setMediaMP4URL540p(std::optional<URL> value) {
    setAddress(mp4540p, value);
}
void PNVideo::setMediaMP4URL720p(std::optional<URL> value) {
    setAddress(mp4720p, value);
}
void PNVideo::setThumbnailImageURL(std::optional<URL> value) {
    setAddress(thumbnail, value);
}

PNVideo::Extras& PNVideo::extrasLocked() {
    if (!extras_)
        extras_ = std::make_unique<Extras>();
    return *extras_;
}

std::optional<platform::URL> PNVideo::shareURL() const {
    return urlOf(readExtra(&Extras::shareURL));
}
std::optional<platform::URL> PNVideo::mediaHLSURL() const {
    return urlOf(readExtra(&Extras::mediaHLSURL));
}
std::string PNVideo::videoDescription() const {
    return readExtra(&Extras::videoDescription);
}
std::optional<std::string> PNVideo::transcription() const {
    return readExtra(&Extras::transcription);
}
double PNVideo::duration() const {
    return readExtra(&Extras::duration);
}

void PNVideo::setShareURL(std::optional<URL> value) {
    std::string text = textOf(value);
    std::lock_guard lock(mutex_);
    extrasLocked().shareURL = std::move(text);
}
void PNVideo::setMediaHLSURL(std::optional<URL> value) {
    std::string text = textOf(value);
    std::lock_guard lock(mutex_);
    extrasLocked().mediaHLSURL = std::move(text);
}
void PNVideo::setVideoDescription(std::string value) {
    std::lock_guard lock(mutex_);
    extrasLocked().videoDescription = std::move(value);
}
void PNVideo::setTranscription(std::optional<std::string> value) {
    std::lock_guard lock(mutex_);
    extrasLocked().transcription = std::move(value);
}
void PNVideo::setDuration(double value) {
    std::lock_guard lock(mutex_);
    extrasLocked().duration = value;
}

platform::StringSet PNVideo::internalTags() const {
    std::lock_guard lock(mutex_);
    return unpackedSet(internalTags_);
}

platform::StringDictionary PNVideo::internalMetadata() const {
    std::lock_guard lock(mutex_);
    return unpackedDictionary(internalMetadata_);
}

void PNVideo::setInternalTags(platform::StringSet value) {
    std::string packed = packedTexts(value);
    std::lock_guard lock(mutex_);
    internalTags_ = std::move(packed);
}

void PNVideo::setInternalMetadata(platform::StringDictionary value) {
    std::string packed = packedDictionary(value);
    std::lock_guard lock(mutex_);
    internalMetadata_ = std::move(packed);
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
        const std::shared_ptr<const PNSessionContext> session = PNSessionContext::current();
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
    PNVideoMetadataSink::send(videoID_, platform::Value(metadata));
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
    std::unique_lock lock(mutex_);
    // One snapshot: the packed fields are copied as they stand and unpacked without the lock.
    const std::string packedAddressTexts = addresses_;
    const std::string packedTags = internalTags_;
    const std::string packedMetadata = internalMetadata_;
    const Extras extras = extras_ ? *extras_ : Extras();
    platform::Dictionary encoded{
        {"id", videoID_},
        {"width", width_},
        {"height", height_},
        {"latitude", coordinateText(location_, true)},
        {"longitude", coordinateText(location_, false)},
        {"shotOn", dateText(shotOn_)},
        {"createdAt", dateText(creationDate_)},
        {"modifyDate", dateText(modifyDate_)},
        {"title", title_},
        {"state", std::string(rawValue(state_))},
    };
    lock.unlock();

    // An address is written as its text, empty when absent.
    const Addresses addresses = unpackedAddresses(packedAddressTexts);
    platform::Array tags;
    for (const std::string& tag : unpackedSet(packedTags)) tags.emplace_back(tag);
    encoded["shareURL"] = extras.shareURL;
    encoded["mediaMP4URL360p"] = addresses[mp4360p];
    encoded["mediaMP4URL540p"] = addresses[mp4540p];
    encoded["mediaMP4URL720p"] = addresses[mp4720p];
    encoded["mediaHLSURL"] = extras.mediaHLSURL;
    encoded["thumbnailImageURL"] = addresses[thumbnail];
    encoded["metadata"] = platform::Value(unpackedDictionary(packedMetadata));
    encoded["tags"] = std::move(tags);
    encoded["videoDescription"] = extras.videoDescription;
    encoded["duration"] = extras.duration;
    encoded["transcription"] =
        extras.transcription ? platform::Value(*extras.transcription) : platform::Value();
    return encoded;
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
