// PNNotifiedVideoIDs: reads which videos a PNVideoUpdated or PNVideoDeleted notification is
// about.
//
// The posters attach the identifiers as the notification's object in three shapes: the live
// notification channel a bare identifier text, the videos facade a list of identifiers, and
// older code a dictionary {"videoID": identifier}. Every receiver reads all three through this
// type, so none of them misses a change because another poster chose another shape.
//
// Thread-safety: stateless; any thread. Calls nothing back.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Value.hpp"

namespace pindle {

class PNNotifiedVideoIDs {
  public:
    static constexpr const char* videoIDKey = "videoID";

    PNNotifiedVideoIDs() = delete;

    // The identifiers in `object`, in order: the text itself, every text of a list (elements
    // of another kind are skipped), or the text under "videoID" of a dictionary. Nothing for
    // any other object.
    static std::vector<std::string> read(const platform::Value& object);
};

}  // namespace pindle
