#include "platform/foundation/Value.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

Value::Value(const StringDictionary& d) {
    Dictionary converted;
    for (const auto& [key, text] : d) converted.emplace(key, Value(text));
    storage_ = Indirect<Dictionary>(std::move(converted));
}

Value::Value(std::shared_ptr<Object> o) {
    if (o) {
        storage_ = std::move(o);
    }
}

Value::Value(const Error& e) : storage_(std::make_shared<const Error>(e)) {}

std::optional<bool> Value::asBool() const {
    if (const bool* b = std::get_if<bool>(&storage_))
        return *b;
    return std::nullopt;
}

std::optional<std::int64_t> Value::asWholeNumber() const {
    if (const std::int64_t* i = std::get_if<std::int64_t>(&storage_))
        return *i;
    if (const double* d = std::get_if<double>(&storage_)) {
        // 2^63 is exactly representable; every double strictly below it in magnitude
        // range [-2^63, 2^63) converts without overflow.
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -limit && *d < limit) {
            return static_cast<std::int64_t>(*d);
        }
    }
    return std::nullopt;
}

std::optional<double> Value::asDouble() const {
    if (const std::int64_t* i = std::get_if<std::int64_t>(&storage_))
        return static_cast<double>(*i);
    if (const double* d = std::get_if<double>(&storage_))
        return *d;
    return std::nullopt;
}

const std::string* Value::asString() const {
    return std::get_if<std::string>(&storage_);
}
const Array* Value::asArray() const {
    return std::get_if<Array>(&storage_);
}
Array* Value::asArray() {
    return std::get_if<Array>(&storage_);
}
const Dictionary* Value::asDictionary() const {
    const auto* boxed = std::get_if<Indirect<Dictionary>>(&storage_);
    return boxed ? &boxed->get() : nullptr;
}
Dictionary* Value::asDictionary() {
    auto* boxed = std::get_if<Indirect<Dictionary>>(&storage_);
    return boxed ? &boxed->get() : nullptr;
}
const StringSet* Value::asStringSet() const {
    const auto* boxed = std::get_if<Indirect<StringSet>>(&storage_);
    return boxed ? &boxed->get() : nullptr;
}

std::shared_ptr<Object> Value::asObject() const {
    if (const auto* o = std::get_if<std::shared_ptr<Object>>(&storage_))
        return *o;
    return nullptr;
}

std::shared_ptr<const Error> Value::asError() const {
    if (const auto* e = std::get_if<std::shared_ptr<const Error>>(&storage_))
        return *e;
    return nullptr;
}

std::optional<StringDictionary> Value::asStringDictionary() const {
    const Dictionary* d = asDictionary();
    if (!d)
        return std::nullopt;
    StringDictionary result;
    for (const auto& [key, value] : *d) {
        const std::string* s = value.asString();
        if (!s)
            return std::nullopt;
        result.emplace(key, *s);
    }
    return result;
}

std::optional<StringSet> Value::asStringSetLoosely() const {
    if (const StringSet* s = asStringSet())
        return *s;
    const Array* a = asArray();
    if (!a)
        return std::nullopt;
    StringSet result;
    for (const Value& element : *a) {
        const std::string* s = element.asString();
        if (!s)
            return std::nullopt;
        result.insert(*s);
    }
    return result;
}

const Value* Value::find(const std::string& key) const {
    const Dictionary* d = asDictionary();
    if (!d)
        return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

bool Value::operator==(const Value& other) const {
    if (storage_.index() != other.storage_.index())
        return false;
    if (isError())
        return *asError() == *other.asError();
    return storage_ == other.storage_;
}

namespace {

void quote(std::ostringstream& out, const std::string& s) {
    out << '"';
    for (char c : s) {
        if (c == '"' || c == '\\')
            out << '\\';
        out << c;
    }
    out << '"';
}

void describe(std::ostringstream& out, const Value& v) {
    switch (v.kind()) {
        case Value::Kind::null:
            out << "null";
            break;
        case Value::Kind::boolean:
            out << (*v.asBool() ? "true" : "false");
            break;
        case Value::Kind::integer:
            out << *v.asWholeNumber();
            break;
        case Value::Kind::real:
            out << *v.asDouble();
            break;
        case Value::Kind::string:
            quote(out, *v.asString());
            break;
        case Value::Kind::array: {
            out << '[';
            bool first = true;
            for (const Value& e : *v.asArray()) {
                if (!first)
                    out << ',';
                first = false;
                describe(out, e);
            }
            out << ']';
            break;
        }
        case Value::Kind::dictionary: {
            out << '{';
            bool first = true;
            for (const auto& [k, e] : *v.asDictionary()) {
                if (!first)
                    out << ',';
                first = false;
                quote(out, k);
                out << ':';
                describe(out, e);
            }
            out << '}';
            break;
        }
        case Value::Kind::stringSet: {
            out << "{(";
            bool first = true;
            for (const std::string& s : *v.asStringSet()) {
                if (!first)
                    out << ',';
                first = false;
                quote(out, s);
            }
            out << ")}";
            break;
        }
        case Value::Kind::object:
            out << v.asObject()->description();
            break;
        case Value::Kind::error:
            out << v.asError()->description();
            break;
    }
}

}  // namespace

std::optional<std::string> Value::plainText() const {
    if (const std::string* s = asString())
        return *s;
    if (const std::int64_t* i = std::get_if<std::int64_t>(&storage_))
        return std::to_string(*i);
    if (const double* d = std::get_if<double>(&storage_)) {
        char buffer[64];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        if (error == std::errc())
            return std::string(buffer, end);
    }
    return std::nullopt;
}

std::string Value::description() const {
    std::ostringstream out;
    describe(out, *this);
    return out.str();
}

}  // namespace pindle::platform
