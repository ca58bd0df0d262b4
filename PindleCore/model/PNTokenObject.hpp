// PNTokenObject: the internal-caller token.
//
// Some operations reachable from outside the library are meant for the library's own code
// only; they take a `fromObject` argument and act only when it is a PNTokenObject. The library
// passes PNTokenObject::sharedInstance(). The token is a guard against misuse, not a secret:
// the check tests the argument's class only, so any instance passes.
//
// The class also builds PNVideo records for the legacy publishing code.
//
// Thread-safety: stateless; sharedInstance() is created once, safely, on first use.
#pragma once

#include <memory>
#include <optional>

#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class PNTokenObject : public platform::Object {
  public:
    PNTokenObject() = default;

    static const std::shared_ptr<PNTokenObject>& sharedInstance();

    // True when `object` is an instance of PNTokenObject or of a class derived from it.
    static bool itsMe(const std::shared_ptr<platform::Object>& object);

    // A record in state processing, without media, share address or transcription. Nothing
    // when `shotOn` is absent.
    static std::shared_ptr<PNVideo> createVideoObject(
        std::string videoID, platform::StringSet tags, platform::StringDictionary metadata,
        std::int64_t width, std::int64_t height, std::optional<platform::Location> location,
        std::optional<platform::Date> shotOn, std::optional<platform::Date> creationDate,
        std::optional<platform::Date> modifyDate, std::string title, std::string videoDescription,
        std::optional<platform::URL> thumbnailImageURL, double duration);
};

}  // namespace pindle
