#include "PindleCore/model/PNVideoMembers.hpp"

#include <algorithm>
#include <cmath>

#include "PindleCore/model/PNBackendDate.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/location/Location.hpp"

namespace pindle {

namespace {

using Key = PNVideoMembers::Key;

// The members' names in byte order, each at its key's place.
constexpr std::array<std::string_view, static_cast<std::size_t>(Key::other)> keyNames = {
    "createdAt", "height", "id",   "lat",      "lng",   "metadata",      "mp4Url",
    "shotOn",    "state",  "tags", "thumbUrl", "title", "transcription", "width"};
static_assert(std::is_sorted(keyNames.begin(), keyNames.end()));

// The text itself when it is a URL's, else nothing: an address that is no URL is no address.
std::string addressText(std::string_view text) {
    return platform::URL::isValid(text) ? std::string(text) : std::string();
}

// As Value::asWholeNumber: a double counts when it is integral and fits int64.
std::int64_t wholeNumber(double number) {
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (std::isfinite(number) && std::trunc(number) == number && number >= -limit && number < limit)
        return static_cast<std::int64_t>(number);
    return 0;
}

}  // namespace

PNVideoMembers::Key PNVideoMembers::key(std::string_view name) {
    // Every member of every object of a list comes here: one look at the length and the first
    // byte leaves at most one name to compare.
    const auto is = [name](Key key) {
        return name == keyNames[static_cast<std::size_t>(key)] ? key : Key::other;
    };
    switch (name.size()) {
        case 2:
            return is(Key::id);
        case 3:
            return name[1] == 'a' ? is(Key::lat) : is(Key::lng);
        case 4:
            return is(Key::tags);
        case 5:
            return name[0] == 's'   ? is(Key::state)
                   : name[0] == 't' ? is(Key::title)
                                    : is(Key::width);
        case 6:
            return name[0] == 'h'   ? is(Key::height)
                   : name[0] == 'm' ? is(Key::mp4Url)
                                    : is(Key::shotOn);
        case 8:
            return name[0] == 'm' ? is(Key::metadata) : is(Key::thumbUrl);
        case 9:
            return is(Key::createdAt);
        case 13:
            return is(Key::transcription);
        default:
            return Key::other;
    }
}

PNVideoMembers PNVideoMembers::fromObject(const platform::Dictionary& object) {
    PNVideoMembers members;
    for (const auto& [name, value] : object) {
        const Key key = PNVideoMembers::key(name);
        if (key == Key::other)
            continue;
        if (const std::string* text = value.asString()) {
            members.setText(key, *text);
        } else if (value.isInteger()) {
            members.setInteger(key, *value.asWholeNumber());
        } else if (value.isDouble()) {
            members.setReal(key, *value.asDouble());
        } else if (const platform::Dictionary* entries = value.asDictionary()) {
            const Container container = members.open(key, true);
            for (const auto& [entryName, entry] : *entries) {
                const std::string* entryText = entry.asString();
                members.setEntry(
                    container, entryName,
                    entryText ? std::optional<std::string_view>(*entryText) : std::nullopt);
            }
        } else if (const platform::Array* elements = value.asArray()) {
            const Container container = members.open(key, false);
            for (const platform::Value& element : *elements) {
                const std::string* elementText = element.asString();
                members.setEntry(
                    container, {},
                    elementText ? std::optional<std::string_view>(*elementText) : std::nullopt);
            }
        } else {
            members.setOther(key);
        }
    }
    return members;
}

void PNVideoMembers::setText(Key key, std::string_view text) {
    switch (key) {
        case Key::id:
            videoID_.emplace(text);
            break;
        case Key::createdAt:
            createdAt_ = parseDate(text);
            break;
        case Key::shotOn:
            shotOn_ = parseDate(text);
            break;
        case Key::title:
            title_.assign(text);
            break;
        case Key::state:
            state_ = videoStateFromRawValue(text).value_or(PNVideoState::unknown);
            break;
        case Key::transcription:
            transcription_.emplace(text);
            break;
        case Key::thumbUrl:
            thumbnail_ = addressText(text);
            break;
        default:
            setOther(key);
            break;
    }
}

void PNVideoMembers::setInteger(Key key, std::int64_t number) {
    switch (key) {
        case Key::lat:
            latitude_ = static_cast<double>(number);
            break;
        case Key::lng:
            longitude_ = static_cast<double>(number);
            break;
        case Key::height:
            height_ = number;
            break;
        case Key::width:
            width_ = number;
            break;
        default:
            setOther(key);
            break;
    }
}

void PNVideoMembers::setReal(Key key, double number) {
    switch (key) {
        case Key::lat:
            latitude_ = number;
            break;
        case Key::lng:
            longitude_ = number;
            break;
        case Key::height:
            height_ = wholeNumber(number);
            break;
        case Key::width:
            width_ = wholeNumber(number);
            break;
        default:
            setOther(key);
            break;
    }
}

void PNVideoMembers::setOther(Key key) {
    switch (key) {
        case Key::id:
            videoID_.reset();
            break;
        case Key::createdAt:
            createdAt_.reset();
            break;
        case Key::shotOn:
            shotOn_.reset();
            break;
        case Key::title:
            title_.clear();
            break;
        case Key::state:
            state_ = PNVideoState::unknown;
            break;
        case Key::transcription:
            transcription_.reset();
            break;
        case Key::thumbUrl:
            thumbnail_.clear();
            break;
        case Key::lat:
            latitude_ = 0;
            break;
        case Key::lng:
            longitude_ = 0;
            break;
        case Key::height:
            height_ = 0;
            break;
        case Key::width:
            width_ = 0;
            break;
        case Key::metadata:
            metadata_.clear();
            unfitMetadataKeys_.clear();
            break;
        case Key::tags:
            tags_.clear();
            tagsFit_ = true;
            break;
        case Key::mp4Url:
            for (std::string& text : resolutions_) text.clear();
            break;
        case Key::other:
            break;
    }
}

PNVideoMembers::Container PNVideoMembers::open(Key key, bool isObject) {
    // The container replaces the member's earlier value, whatever it was.
    setOther(key);
    if (isObject && key == Key::mp4Url)
        return Container::addresses;
    if (isObject && key == Key::metadata)
        return Container::metadata;
    if (!isObject && key == Key::tags)
        return Container::tags;
    return Container::none;
}

void PNVideoMembers::setEntry(Container container, std::string_view name,
                              std::optional<std::string_view> text) {
    switch (container) {
        case Container::addresses: {
            static constexpr std::array<std::string_view, resolutionCount> names = {"720p", "540p",
                                                                                    "480p", "360p"};
            const auto found = std::find(names.begin(), names.end(), name);
            if (found != names.end())
                resolutions_[static_cast<std::size_t>(found - names.begin())] =
                    text ? addressText(*text) : std::string();
            break;
        }
        case Container::metadata:
            if (text) {
                if (const auto unfit = unfitMetadataKeys_.find(name);
                    unfit != unfitMetadataKeys_.end())
                    unfitMetadataKeys_.erase(unfit);
                metadata_.insert_or_assign(std::string(name), std::string(*text));
            } else {
                if (const auto entry = metadata_.find(std::string(name)); entry != metadata_.end())
                    metadata_.erase(entry);
                unfitMetadataKeys_.emplace(name);
            }
            break;
        case Container::tags:
            if (text)
                tags_.emplace(*text);
            else
                tagsFit_ = false;
            break;
        case Container::none:
            break;
    }
}

std::shared_ptr<PNVideo> PNVideoMembers::makeVideo() && {
    if (!videoID_ || !createdAt_ || !shotOn_)
        return nullptr;
    PNVideo::Fields fields;
    fields.videoID = std::move(*videoID_);
    fields.location = platform::Location(latitude_, longitude_);
    fields.title = std::move(title_);
    fields.state = state_;
    fields.transcription = std::move(transcription_);
    fields.height = height_;
    fields.width = width_;
    if (unfitMetadataKeys_.empty())
        fields.metadata = std::move(metadata_);
    if (tagsFit_)
        fields.tags = std::move(tags_);
    fields.creationDate = createdAt_;
    fields.modifyDate = createdAt_;
    fields.shotOn = *shotOn_;

    PNVideo::Addresses addresses;
    addresses[PNVideo::mp4720p] = std::move(resolutions_[r720p]);
    addresses[PNVideo::mp4540p] =
        std::move(resolutions_[resolutions_[r540p].empty() ? r480p : r540p]);
    addresses[PNVideo::mp4360p] = std::move(resolutions_[r360p]);
    addresses[PNVideo::thumbnail] = std::move(thumbnail_);
    return PNVideo::make(std::move(fields), addresses);
}

}  // namespace pindle
