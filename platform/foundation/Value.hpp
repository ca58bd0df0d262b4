// Value: the dynamic value that stands in for the platform's property-list objects.
//
// A Value is null, a bool (never confused with a number), a 64-bit integer, a double,
// a string, an array, a string-keyed dictionary, a set of strings, a reference to an
// Object, or an error. It carries parsed JSON, REST parameters, notification payloads
// and stored pending changes. Readers that expect a shape ask for it with the `as...`
// accessors, which give nothing (never crash) for a value of another shape.
//
// A Value is 40 bytes: dictionaries and string sets live on the heap behind one pointer, so
// that the common scalars, strings and arrays (and every dictionary member) stay small.
// A dictionary or string set keeps its address when the Value holding it moves.
//
// Thread-safety: a Value is a plain value type; concurrent reads are safe, writes need
// external synchronisation like any standard container.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Dictionary.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class Error;
class Value;

using Array = std::vector<Value>;
using StringSet = std::set<std::string>;
using StringDictionary = std::map<std::string, std::string>;

struct Null {
    bool operator==(const Null&) const = default;
};

class Value {
  public:
    enum class Kind {
        null,
        boolean,
        integer,
        real,
        string,
        array,
        dictionary,
        stringSet,
        object,
        error
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(Indirect<Dictionary>(std::move(d))) {}
    Value(StringSet s) : storage_(Indirect<StringSet>(std::move(s))) {}
    Value(const StringDictionary& d);
    Value(std::shared_ptr<Object> o);
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Value(std::shared_ptr<T> o) : Value(std::static_pointer_cast<Object>(std::move(o))) {}
    Value(const Error& e);

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNull() const { return kind() == Kind::null; }
    bool isBool() const { return kind() == Kind::boolean; }
    bool isInteger() const { return kind() == Kind::integer; }
    bool isDouble() const { return kind() == Kind::real; }
    bool isNumber() const { return isInteger() || isDouble(); }
    bool isString() const { return kind() == Kind::string; }
    bool isArray() const { return kind() == Kind::array; }
    bool isDictionary() const { return kind() == Kind::dictionary; }
    bool isStringSet() const { return kind() == Kind::stringSet; }
    bool isObject() const { return kind() == Kind::object; }
    bool isError() const { return kind() == Kind::error; }

    // Shape-checked readers: nothing when the value has another shape.
    std::optional<bool> asBool() const;
    // An integer, or a double with an integral value that fits int64 (720.0 counts,
    // 720.5 does not).
    std::optional<std::int64_t> asWholeNumber() const;
    // Any number as a double.
    std::optional<double> asDouble() const;
    const std::string* asString() const;
    const Array* asArray() const;
    Array* asArray();
    const Dictionary* asDictionary() const;
    Dictionary* asDictionary();
    const StringSet* asStringSet() const;
    std::shared_ptr<Object> asObject() const;
    template <class T>
    std::shared_ptr<T> asObjectOf() const {
        return std::dynamic_pointer_cast<T>(asObject());
    }
    std::shared_ptr<const Error> asError() const;

    // A dictionary whose every value is a string, converted; nothing otherwise.
    std::optional<StringDictionary> asStringDictionary() const;
    // An array of strings, or a string set, as a set; nothing when any element is not a string.
    std::optional<StringSet> asStringSetLoosely() const;

    // Dictionary member lookup; nullptr when this is not a dictionary or has no such key.
    const Value* find(const std::string& key) const;

    // Deep equality; object references compare by identity.
    bool operator==(const Value& other) const;

    // The plain text of a scalar: a string as it is, an integer in decimal, a double in its
    // shortest exact decimal form; nothing for other shapes.
    std::optional<std::string> plainText() const;

    // A debugging description (JSON-like).
    std::string description() const;

  private:
    // A heap-held container with value semantics: copies are deep. An empty container takes
    // no allocation until it is written through, and a moved-from one reads as empty (as a
    // moved-from container would).
    template <class T>
    class Indirect {
      public:
        explicit Indirect(T value)
            : content_(value.empty() ? nullptr : std::make_unique<T>(std::move(value))) {}
        Indirect(const Indirect& other)
            : content_(other.content_ ? std::make_unique<T>(*other.content_) : nullptr) {}
        Indirect(Indirect&&) noexcept = default;
        Indirect& operator=(const Indirect& other) {
            if (this != &other)
                content_ = other.content_ ? std::make_unique<T>(*other.content_) : nullptr;
            return *this;
        }
        Indirect& operator=(Indirect&&) noexcept = default;

        const T& get() const { return content_ ? *content_ : empty(); }
        T& get() {
            if (!content_)
                content_ = std::make_unique<T>();
            return *content_;
        }
        bool operator==(const Indirect& other) const { return get() == other.get(); }

      private:
        static const T& empty() {
            static const T nothing;
            return nothing;
        }
        std::unique_ptr<T> content_;
    };

    using Storage =
        std::variant<Null, bool, std::int64_t, double, std::string, Array, Indirect<Dictionary>,
                     Indirect<StringSet>, std::shared_ptr<Object>, std::shared_ptr<const Error>>;
    Storage storage_;
};

// Dictionary's members that need the complete Value.
inline Dictionary::iterator Dictionary::begin() {
    return entries_.begin();
}
inline Dictionary::iterator Dictionary::end() {
    return entries_.end();
}
inline Dictionary::const_iterator Dictionary::begin() const {
    return entries_.begin();
}
inline Dictionary::const_iterator Dictionary::end() const {
    return entries_.end();
}
inline Dictionary::const_iterator Dictionary::cbegin() const {
    return entries_.cbegin();
}
inline Dictionary::const_iterator Dictionary::cend() const {
    return entries_.cend();
}
inline Dictionary::reverse_iterator Dictionary::rbegin() {
    return entries_.rbegin();
}
inline Dictionary::reverse_iterator Dictionary::rend() {
    return entries_.rend();
}
inline Dictionary::const_reverse_iterator Dictionary::rbegin() const {
    return entries_.rbegin();
}
inline Dictionary::const_reverse_iterator Dictionary::rend() const {
    return entries_.rend();
}
inline bool Dictionary::empty() const {
    return entries_.empty();
}
inline Dictionary::size_type Dictionary::size() const {
    return entries_.size();
}
inline void Dictionary::clear() {
    entries_.clear();
}
inline void Dictionary::reserve(size_type count) {
    entries_.reserve(count);
}
inline Dictionary::size_type Dictionary::count(std::string_view key) const {
    return contains(key) ? 1 : 0;
}
inline Dictionary::iterator Dictionary::erase(const_iterator position) {
    return entries_.erase(position);
}
inline Dictionary::iterator Dictionary::erase(const_iterator first, const_iterator last) {
    return entries_.erase(first, last);
}
inline void Dictionary::swap(Dictionary& other) noexcept {
    entries_.swap(other.entries_);
}
template <class Key, class... Args>
std::pair<Dictionary::iterator, bool> Dictionary::emplace(Key&& key, Args&&... args) {
    return try_emplace(std::string_view(key), Value(std::forward<Args>(args)...));
}

}  // namespace pindle::platform
