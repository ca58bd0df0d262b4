#include "PindleCore/model/PNNotifiedVideoIDs.hpp"

namespace pindle {

std::vector<std::string> PNNotifiedVideoIDs::read(const platform::Value& object) {
    std::vector<std::string> ids;
    if (const std::string* text = object.asString()) {
        ids.push_back(*text);
    } else if (const platform::Array* list = object.asArray()) {
        for (const platform::Value& element : *list)
            if (const std::string* id = element.asString())
                ids.push_back(*id);
    } else if (object.isDictionary()) {
        if (const platform::Value* id = object.find(videoIDKey); id && id->asString())
            ids.push_back(*id->asString());
    }
    return ids;
}

}  // namespace pindle
