#include "PindleCore/playlists/PNPendingChangesParser.hpp"

#include "platform/foundation/Json.hpp"

namespace pindle {

namespace {

constexpr const char* dataMember = "data";
constexpr const char* changesMember = "changes";

}  // namespace

PNPendingChangesParser& PNPendingChangesParser::shared() {
    static PNPendingChangesParser* parser = new PNPendingChangesParser;
    return *parser;
}

std::optional<platform::Data> PNPendingChangesParser::encode(
    const std::vector<PNPendingChange>& changes) const {
    platform::Array encoded;
    encoded.reserve(changes.size());
    for (const auto& change : changes) encoded.emplace_back(change.encode());
    platform::Dictionary document{
        {dataMember, platform::Dictionary{{changesMember, platform::Value(std::move(encoded))}}},
    };
    return platform::Json::serializeToData(platform::Value(std::move(document)));
}

std::optional<std::vector<PNPendingChange>> PNPendingChangesParser::decode(
    const platform::Data& data) const {
    auto document = platform::Json::parse(data);
    if (!document || !document->isDictionary())
        return std::nullopt;
    std::vector<PNPendingChange> changes;
    const platform::Value* body = document->find(dataMember);
    const platform::Value* list = body ? body->find(changesMember) : nullptr;
    if (!list || !list->isArray())
        return changes;
    for (const auto& element : *list->asArray()) {
        if (!element.isDictionary())
            continue;
        if (auto change = PNPendingChange::fromDictionary(*element.asDictionary()))
            changes.push_back(std::move(*change));
    }
    return changes;
}

}  // namespace pindle
