#include "PindleCore/model/PNDataValidator.hpp"

#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

std::optional<PNError> tooLarge() {
    return PNError(PNError::valuesTooLarge);
}

}  // namespace

std::optional<PNError> PNDataValidator::validateTags(const platform::StringSet& tags) {
    if (tags.size() > tagsCountLengthLimit)
        return tooLarge();
    std::size_t total = 0;
    for (const std::string& tag : tags) {
        total += platform::Text::characterCount(tag);
        if (total >= tagsTotalLengthLimit)
            return tooLarge();
    }
    return std::nullopt;
}

std::optional<PNError> PNDataValidator::validateMetadata(
    const platform::StringDictionary& metadata) {
    if (metadata.size() > metadataCountLengthLimit)
        return tooLarge();
    std::size_t total = 0;
    for (const auto& [key, value] : metadata) {
        total += platform::Text::characterCount(key);
        if (total >= metadataTotalLengthLimit)
            return tooLarge();
        total += platform::Text::characterCount(value);
        if (total >= metadataTotalLengthLimit)
            return tooLarge();
    }
    return std::nullopt;
}

std::optional<PNError> PNDataValidator::validateTitle(const std::string& title) {
    if (platform::Text::characterCount(title) >= titleLengthLimit)
        return tooLarge();
    return std::nullopt;
}

std::optional<PNError> PNDataValidator::validateDescription(const std::string& description) {
    if (platform::Text::characterCount(description) >= descriptionLengthLimit)
        return tooLarge();
    return std::nullopt;
}

}  // namespace pindle
