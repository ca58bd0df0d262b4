// PNPathMaker: fills "{name}" placeholders of a path template with the caller's values.
//
// Values are inserted as they stand (no escaping); callers that take identifiers from outside
// check them first. Subclasses may override params(from:) to change which names are filled.
//
// Thread-safety: stateless; call from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.hpp"

namespace pindle {

class PNPathMaker {
  public:
    virtual ~PNPathMaker() = default;

    // The shared maker the endpoints use.
    static const PNPathMaker& shared();

    // The template with every placeholder replaced by the textual description of its value
    // (strings as they are, numbers in decimal). Nothing when a placeholder has no entry in
    // `values`, or its value has no plain textual form.
    std::optional<std::string> makePath(const std::string& pathTemplate,
                                        const platform::Dictionary& values) const;

    // The placeholder names in order of appearance, duplicates kept.
    virtual std::vector<std::string> params(const std::string& pathTemplate) const;
};

}  // namespace pindle
