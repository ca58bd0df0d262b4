#include "PindleCore/playlists/PNPendingChange.hpp"

namespace pindle {

namespace {

constexpr const char* entityIDMember = "entityID";
constexpr const char* classNameMember = "className";
constexpr const char* keyMember = "key";
constexpr const char* valueMember = "value";

bool valuesEqual(const platform::Value& left, const platform::Value& right) {
    if (left.isStringSet() && right.isStringSet())
        return *left.asStringSet() == *right.asStringSet();
    auto leftMap = left.asStringDictionary();
    auto rightMap = right.asStringDictionary();
    if (leftMap && rightMap)
        return *leftMap == *rightMap;
    if (leftMap || rightMap || left.isStringSet() || right.isStringSet())
        return false;
    return left == right;
}

const std::string* textMember(const platform::Dictionary& dictionary, const char* name) {
    auto entry = dictionary.find(name);
    return entry == dictionary.end() ? nullptr : entry->second.asString();
}

}  // namespace

PNPendingChange::PNPendingChange(std::string entityID, std::string className, std::string key,
                                 platform::Value value)
    : entityID_(std::move(entityID)),
      className_(std::move(className)),
      key_(std::move(key)),
      value_(std::move(value)) {}

std::optional<PNPendingChange> PNPendingChange::fromDictionary(
    const platform::Dictionary& dictionary) {
    const std::string* entityID = textMember(dictionary, entityIDMember);
    const std::string* className = textMember(dictionary, classNameMember);
    const std::string* key = textMember(dictionary, keyMember);
    auto value = dictionary.find(valueMember);
    if (!entityID || !className || !key || value == dictionary.end())
        return std::nullopt;
    if (*key == tagsKey) {
        auto tags = value->second.asStringSetLoosely();
        if (!tags)
            return std::nullopt;
        return PNPendingChange(*entityID, *className, *key, platform::Value(std::move(*tags)));
    }
    return PNPendingChange(*entityID, *className, *key, value->second);
}

platform::Dictionary PNPendingChange::encode() const {
    platform::Value value = value_;
    if (key_ == tagsKey && value_.isStringSet()) {
        platform::Array tags;
        for (const auto& tag : *value_.asStringSet()) tags.emplace_back(tag);
        value = platform::Value(std::move(tags));
    }
    return {
        {entityIDMember, platform::Value(entityID_)},
        {classNameMember, platform::Value(className_)},
        {keyMember, platform::Value(key_)},
        {valueMember, std::move(value)},
    };
}

bool PNPendingChange::operator==(const PNPendingChange& other) const {
    return BelongsToSameEntityAndValue(*this, other) && valuesEqual(value_, other.value_);
}

bool BelongsToSameEntityAndValue(const PNPendingChange& leftSide,
                                 const PNPendingChange& rightSide) {
    return leftSide.entityID() == rightSide.entityID() &&
           leftSide.className() == rightSide.className() && leftSide.key() == rightSide.key();
}

}  // namespace pindle
