// PNVideoMembers: the members of one backend video object that its record is made from, and the
// record they make.
//
// The members are given one at a time, as the JSON reader meets them: a parsed object's through
// fromObject(), a list reply's straight from the reader's events (PNVideoEventMapper), so both
// roads keep exactly the same things. A member given again replaces what it gave before, as the
// last of a repeated key wins in a parsed object. A member of the wrong kind counts as absent:
// a title that is not a string leaves the title empty, a "tags" member that is not an array of
// strings leaves no tags, an "mp4Url" entry that is not a string or not a URL gives no address
// (and then 540p falls back to the "480p" entry). Addresses are checked as they are given and
// kept as text: the record makes a URL only when one is asked for.
//
// Thread-safety: a plain value; one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoState.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Dictionary.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideoMembers {
  public:
    // The members a record is read from; every other member is skipped.
    enum class Key {
        createdAt,
        height,
        id,
        lat,
        lng,
        metadata,
        mp4Url,
        shotOn,
        state,
        tags,
        thumbUrl,
        title,
        transcription,
        width,
        other,
    };
    static Key key(std::string_view name);

    // The members of a parsed video object.
    static PNVideoMembers fromObject(const platform::Dictionary& object);

    // A member whose value is a string, a number, or anything else but a container.
    void setText(Key key, std::string_view text);
    void setInteger(Key key, std::int64_t number);
    void setReal(Key key, double number);
    void setOther(Key key);

    // A member whose value is an object or an array: its entries, if they matter, go to
    // setEntry() until the container ends.
    enum class Container { none, addresses, metadata, tags };
    Container open(Key key, bool isObject);
    // One entry of the container `open` gave: the text of a string, nothing for any other value.
    // `name` is the entry's member name (an array's elements have none).
    void setEntry(Container container, std::string_view name, std::optional<std::string_view> text);

    // The record, or nullptr when "id" is not a string or "createdAt" or "shotOn" is not a date.
    std::shared_ptr<PNVideo> makeVideo() &&;

  private:
    // The "mp4Url" entries that matter, in this order.
    enum Resolution : std::size_t { r720p, r540p, r480p, r360p, resolutionCount };

    std::optional<std::string> videoID_;
    std::optional<platform::Date> createdAt_;
    std::optional<platform::Date> shotOn_;
    std::string title_;
    PNVideoState state_ = PNVideoState::unknown;
    std::optional<std::string> transcription_;
    double latitude_ = 0;
    double longitude_ = 0;
    std::int64_t height_ = 0;
    std::int64_t width_ = 0;
    std::string thumbnail_;                                 // a URL's text, or empty
    std::array<std::string, resolutionCount> resolutions_;  // URLs' texts, or empty
    platform::StringDictionary metadata_;
    // Metadata keys whose last value is not a string: while there is one, there is no metadata.
    std::set<std::string, std::less<>> unfitMetadataKeys_;
    platform::StringSet tags_;
    bool tagsFit_ = true;  // every tag given was a string
};

}  // namespace pindle
