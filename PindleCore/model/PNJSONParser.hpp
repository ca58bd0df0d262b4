// PNJSONParser: turns the backend's JSON replies into video records.
//
// The video endpoints hand one of the two parse operations to the HTTP requester as its
// mapper; the requester calls it with the parsed JSON body and the response's header fields.
// A reply that cannot be mapped gives nullptr; the parser reports no error of its own, posts
// nothing and logs nothing.
//
// Thread-safety: stateless; runs on the requester's delegate queue, or anywhere.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideoResponse.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNJSONParser {
  public:
    static const PNJSONParser& shared();
    virtual ~PNJSONParser() = default;

    // One video object. nullptr when `data` is not an object or the object cannot be mapped.
    virtual std::shared_ptr<PNVideoResponse> parseSingleVideoResponse(
        const platform::Value& data, const platform::Dictionary* headers) const;

    // An array of video objects. Elements that cannot be mapped are left out, the others kept
    // in order. The total is the header "video-total-count" (looked up without regard to case)
    // when it is a string holding a decimal integer, else the number of records kept.
    // nullptr when `data` is not an array.
    virtual std::shared_ptr<PNVideosResponse> parseListResponce(
        const platform::Value& data, const platform::Dictionary* headers) const;

    // The same for a list reply's raw body, read element by element: each video object is
    // mapped as soon as it is read and then dropped, so the body's whole JSON value never
    // exists. A body that is JSON but not an array gives nullptr; one that is not JSON gives
    // nothing. (PNVideoListReader does this for a body arriving in pieces.)
    std::optional<std::shared_ptr<PNVideosResponse>> parseListBody(
        const platform::Data& body, const platform::Dictionary* headers) const;

  protected:
    friend class PNVideoListReader;

    // The total a list's headers announce (see parseListResponce), if any.
    static std::optional<std::int64_t> listTotal(const platform::Dictionary* headers);

    PNJSONParser() = default;

    // nullptr when "id", "createdAt" or "shotOn" is missing or malformed.
    virtual std::shared_ptr<PNVideo> parseVideo(const platform::Dictionary& data) const;
    virtual std::vector<std::shared_ptr<PNVideo>> parseVideos(const platform::Array& data) const;
    virtual std::optional<platform::URL> resURL(const platform::Dictionary& data,
                                                const std::string& res) const;
};

}  // namespace pindle
