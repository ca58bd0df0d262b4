// PNVideoListReader: maps the body of a list reply to video records while the body arrives, so
// that neither the body nor its JSON value is ever held whole: each video object is mapped from
// the JSON reader's events as soon as its last byte is in (PNVideoEventMapper), without being
// built as a value, and its bytes are dropped.
//
// The records, the total and the refusals are those of PNJSONParser::parseListBody() for the
// whole body, however the body is cut into pieces.
//
// Thread-safety: none; one reader is fed by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoEventMapper.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/JsonStreamReader.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNJSONParser;

class PNVideoListReader {
  public:
    // The records are those PNJSONParser's own mapping gives a parsed list (a subclass's
    // parseVideo() is not consulted); the total is taken from `headers` (may be null) now.
    PNVideoListReader(const PNJSONParser& parser, const platform::Dictionary* headers);

    PNVideoListReader(const PNVideoListReader&) = delete;
    PNVideoListReader& operator=(const PNVideoListReader&) = delete;

    // Takes the next piece of the body. False once the body is known not to be JSON.
    bool append(std::string_view piece);
    bool append(const platform::Data& piece);

    // The list, once the whole body is in: nullptr when the body is JSON but not an array,
    // nothing when it is not JSON. REQUIRES: called once, after the last append().
    std::optional<std::shared_ptr<PNVideosResponse>> finish();

  private:
    const std::optional<std::int64_t> headerTotal_;
    std::vector<std::shared_ptr<PNVideo>> videos_;
    PNVideoEventMapper mapper_;        // fills videos_
    platform::JsonStreamReader json_;  // feeds mapper_
};

}  // namespace pindle
