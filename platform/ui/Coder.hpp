// Coder: the archive a view or a view controller is built from by its "from a coder"
// constructor (the phone platform's interface files). Here it is a dictionary of values
// plus a process-wide registry of classes by name, so that an archive can name the class
// to build ("PNPlayerView", a custom slider) and code can build it without knowing it.
//
// Rectangles are stored as dictionaries {"x", "y", "width", "height"}.
//
// Thread-safety: a Coder is immutable once made; the class registry is safe from any thread.
// No callbacks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Object.hpp"
#include "platform/foundation/Rect.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform::ui {

class Coder : public Object {
  public:
    using Factory = std::function<std::shared_ptr<Object>(const Coder&)>;

    explicit Coder(Dictionary values = {}) : values_(std::move(values)) {}

    bool containsValue(const std::string& key) const { return values_.count(key) > 0; }
    const Value* value(const std::string& key) const;
    std::optional<double> decodeDouble(const std::string& key) const;
    std::optional<bool> decodeBool(const std::string& key) const;
    std::optional<std::string> decodeString(const std::string& key) const;
    // Nothing when the key is missing or its value is no complete rectangle.
    std::optional<Rect> decodeRect(const std::string& key) const;
    static Value encodeRect(const Rect& rect);

    // Registers (or replaces) the factory of `className`.
    static void registerClass(const std::string& className, Factory factory);
    // The object that `className`'s factory builds from `coder`; null for an unknown class or
    // when the factory fails.
    static std::shared_ptr<Object> decodeObject(const std::string& className, const Coder& coder);

  private:
    const Dictionary values_;
};

}  // namespace pindle::platform::ui
