// PNVideoFilter: the criteria of a list query on the backend's videos and the page wanted.
//
// A filter is mutable and shared by reference: a playlist that advances `page` changes the
// object its creator passed in. No field is validated; the endpoint interprets the values.
//
// Thread-safety: none of its own; used on the thread of whichever holder uses it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideoFilter : public platform::Object {
  public:
    PNVideoFilter() = default;
    PNVideoFilter(platform::StringDictionary metadata, platform::StringSet tags, std::string title,
                  std::string identity)
        : metadata(std::move(metadata)),
          tags(std::move(tags)),
          title(std::move(title)),
          identity(std::move(identity)) {}

    platform::StringDictionary metadata;
    platform::StringSet tags;
    std::string title;
    std::string identity;
    std::int64_t page = 1;  // counting from 1
    std::int64_t limit = 10;
};

}  // namespace pindle
