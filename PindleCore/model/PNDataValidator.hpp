// PNDataValidator: the size limits for tags, metadata, titles and descriptions.
//
// Characters are user-perceived characters (extended grapheme clusters). A count may equal its
// limit (50 tags pass); a character total must stay below its limit (999 pass, 1000 fail).
//
// Thread-safety: stateless; call from any thread.
#pragma once

#include <optional>
#include <string>

#include "PindleCore/model/PNError.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNDataValidator {
  public:
    static constexpr std::size_t tagsCountLengthLimit = 50;
    static constexpr std::size_t tagsTotalLengthLimit = 1000;
    static constexpr std::size_t metadataCountLengthLimit = 50;
    static constexpr std::size_t metadataTotalLengthLimit = 1000;
    static constexpr std::size_t titleLengthLimit = 100;
    static constexpr std::size_t descriptionLengthLimit = 1000;

    // valuesTooLarge, or nothing when the value passes.
    static std::optional<PNError> validateTags(const platform::StringSet& tags);
    static std::optional<PNError> validateMetadata(const platform::StringDictionary& metadata);
    static std::optional<PNError> validateTitle(const std::string& title);
    static std::optional<PNError> validateDescription(const std::string& description);
};

}  // namespace pindle
