#include "platform/ui/Coder.hpp"

#include <map>
#include <mutex>

namespace pindle::platform::ui {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, Coder::Factory> factories;  // guarded by mutex
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

}  // namespace

const Value* Coder::value(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
}

std::optional<double> Coder::decodeDouble(const std::string& key) const {
    const Value* v = value(key);
    return v ? v->asDouble() : std::nullopt;
}

std::optional<bool> Coder::decodeBool(const std::string& key) const {
    const Value* v = value(key);
    return v ? v->asBool() : std::nullopt;
}

std::optional<std::string> Coder::decodeString(const std::string& key) const {
    const Value* v = value(key);
    if (!v || !v->asString())
        return std::nullopt;
    return *v->asString();
}

std::optional<Rect> Coder::decodeRect(const std::string& key) const {
    const Value* v = value(key);
    const Dictionary* d = v ? v->asDictionary() : nullptr;
    if (!d)
        return std::nullopt;
    double parts[4];
    const char* names[4] = {"x", "y", "width", "height"};
    for (int i = 0; i < 4; ++i) {
        auto it = d->find(names[i]);
        std::optional<double> number = it == d->end() ? std::nullopt : it->second.asDouble();
        if (!number)
            return std::nullopt;
        parts[i] = *number;
    }
    return Rect::make(parts[0], parts[1], parts[2], parts[3]);
}

Value Coder::encodeRect(const Rect& rect) {
    return Dictionary{{"x", rect.origin.x},
                      {"y", rect.origin.y},
                      {"width", rect.size.width},
                      {"height", rect.size.height}};
}

void Coder::registerClass(const std::string& className, Factory factory) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[className] = std::move(factory);
}

std::shared_ptr<Object> Coder::decodeObject(const std::string& className, const Coder& coder) {
    Factory factory;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.factories.find(className);
        if (it == r.factories.end())
            return nullptr;
        factory = it->second;
    }
    return factory(coder);
}

}  // namespace pindle::platform::ui
