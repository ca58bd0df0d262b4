// PNPendingChange: a local edit of one property of one record that the backend has not yet
// accepted, always the complete new value, never a difference: key "tags" with a set of
// texts, or key "metadata" with a map of text to text.
//
// Two changes are equal (==) when record, class, key and value are equal. Values compare as
// sets of texts, else as maps of text to text; values of any other shape compare as plain
// values, so that every change, even one read from a damaged file, equals itself.
// BelongsToSameEntityAndValue() is the looser match that ignores the value: the same
// property of the same record.
//
// Thread-safety: a plain value; no synchronisation of its own.
#pragma once

#include <optional>
#include <string>

#include "PindleCore/playlists/PNPendingChangeProtocol.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNPendingChange : public PNPendingChangeProtocol {
  public:
    static constexpr const char* tagsKey = "tags";
    static constexpr const char* metadataKey = "metadata";

    PNPendingChange(std::string entityID, std::string className, std::string key,
                    platform::Value value);

    // The change a dictionary of encode()'s form describes. Nothing when a member is missing,
    // "entityID", "className" or "key" is not a text, or a "tags" value is not an array (or
    // set) of texts.
    static std::optional<PNPendingChange> fromDictionary(const platform::Dictionary& dictionary);

    const std::string& entityID() const override { return entityID_; }
    void setEntityID(std::string entityID) override { entityID_ = std::move(entityID); }
    const std::string& className() const override { return className_; }
    void setClassName(std::string className) override { className_ = std::move(className); }
    const std::string& key() const { return key_; }
    const platform::Value& value() const { return value_; }

    // {"entityID", "className", "key", "value"}; a "tags" set becomes an array of texts.
    platform::Dictionary encode() const override;

    bool operator==(const PNPendingChange& other) const;

  private:
    std::string entityID_;
    std::string className_;
    std::string key_;
    platform::Value value_;
};

// Whether the two changes edit the same property of the same record (values not compared).
bool BelongsToSameEntityAndValue(const PNPendingChange& leftSide, const PNPendingChange& rightSide);

}  // namespace pindle
