#include "platform/foundation/Json.hpp"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <span>

#include "platform/foundation/Text.hpp"

namespace pindle::platform {

namespace {

using nlohmann::json;

Error readError(const std::string& reason) {
    return Error(CocoaError::domain, CocoaError::propertyListReadCorrupt,
                 {{Error::localizedDescriptionKey,
                   "The data couldn't be read because it isn't in the correct format."},
                  {"NSDebugDescription", reason}});
}

Error writeError(const std::string& reason) {
    return Error(CocoaError::domain, CocoaError::propertyListWriteInvalid,
                 {{Error::localizedDescriptionKey,
                   "The data couldn't be written because it isn't in the correct format."},
                  {"NSDebugDescription", reason}});
}

// Builds a Value straight from the parser's events, so that no intermediate document is
// kept and nesting depth is bounded. The members of every open object and the elements of
// every open array wait on two shared stacks and are moved into a container of exactly their
// number when it closes, so no container grows step by step.
class ValueBuilder final : public nlohmann::json_sax<json> {
  public:
    std::optional<Value> result;
    std::string failure;

    bool null() override { return add(Value()); }
    bool boolean(bool value) override { return add(Value(value)); }
    bool number_integer(number_integer_t value) override {
        return add(Value(static_cast<std::int64_t>(value)));
    }
    bool number_unsigned(number_unsigned_t value) override {
        if (value <= static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
            return add(Value(static_cast<std::int64_t>(value)));
        }
        return add(Value(static_cast<double>(value)));
    }
    bool number_float(number_float_t value, const string_t&) override {
        if (!std::isfinite(value)) {
            failure = "Number out of range.";
            return false;
        }
        return add(Value(static_cast<double>(value)));
    }
    bool string(string_t& value) override { return add(Value(std::move(value))); }
    bool binary(binary_t&) override {
        failure = "Binary values are not JSON.";
        return false;
    }
    bool start_object(std::size_t) override { return open(true, members_.size()); }
    bool key(string_t& value) override {
        pendingKey_ = std::move(value);
        return true;
    }
    bool end_object() override {
        const std::size_t first = close();
        Dictionary members = Dictionary::fromEntries(std::span(members_).subspan(first));
        members_.resize(first);
        return add(Value(std::move(members)));
    }
    bool start_array(std::size_t) override { return open(false, elements_.size()); }
    bool end_array() override {
        const std::size_t first = close();
        const auto begin = elements_.begin() + static_cast<std::ptrdiff_t>(first);
        Array array(std::make_move_iterator(begin), std::make_move_iterator(elements_.end()));
        elements_.erase(begin, elements_.end());
        return add(Value(std::move(array)));
    }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& error) override {
        failure = error.what();
        return false;
    }

  private:
    struct Open {
        bool isObject;
        std::size_t first;  // its first member in members_, or first element in elements_
        std::string key;    // the key it will be stored under in its parent object
    };

    bool open(bool isObject, std::size_t first) {
        if (static_cast<int>(stack_.size()) >= Json::maximumNestingDepth) {
            failure = "Nesting too deep.";
            return false;
        }
        stack_.push_back(Open{isObject, first, std::move(pendingKey_)});
        return true;
    }

    std::size_t close() {
        Open& done = stack_.back();
        const std::size_t first = done.first;
        pendingKey_ = std::move(done.key);
        stack_.pop_back();
        return first;
    }

    bool add(Value value) {
        if (stack_.empty()) {
            result = std::move(value);
        } else if (stack_.back().isObject) {
            members_.emplace_back(std::move(pendingKey_), std::move(value));
        } else {
            elements_.push_back(std::move(value));
        }
        return true;
    }

    std::vector<Open> stack_;
    Dictionary::Entries members_;
    std::vector<Value> elements_;
    std::string pendingKey_;  // the parser reports a member's key just before its value
};

bool toJson(const Value& value, json& out, std::string& failure) {
    switch (value.kind()) {
        case Value::Kind::null:
            out = nullptr;
            return true;
        case Value::Kind::boolean:
            out = *value.asBool();
            return true;
        case Value::Kind::integer:
            out = *value.asWholeNumber();
            return true;
        case Value::Kind::real: {
            const double d = *value.asDouble();
            if (!std::isfinite(d)) {
                failure = "Invalid number value (NaN or infinity) in JSON write.";
                return false;
            }
            out = d;
            return true;
        }
        case Value::Kind::string:
            if (!Text::isValidUTF8(*value.asString())) {
                failure = "Invalid UTF-8 in a JSON string.";
                return false;
            }
            out = *value.asString();
            return true;
        case Value::Kind::array: {
            out = json::array();
            for (const Value& element : *value.asArray()) {
                json converted;
                if (!toJson(element, converted, failure))
                    return false;
                out.push_back(std::move(converted));
            }
            return true;
        }
        case Value::Kind::dictionary: {
            out = json::object();
            for (const auto& [key, element] : *value.asDictionary()) {
                if (!Text::isValidUTF8(key)) {
                    failure = "Invalid UTF-8 in a JSON key.";
                    return false;
                }
                json converted;
                if (!toJson(element, converted, failure))
                    return false;
                out[key] = std::move(converted);
            }
            return true;
        }
        case Value::Kind::stringSet:
            failure = "Invalid type in JSON write (set).";
            return false;
        case Value::Kind::object:
            failure = "Invalid type in JSON write (object).";
            return false;
        case Value::Kind::error:
            failure = "Invalid type in JSON write (error).";
            return false;
    }
    return false;
}

}  // namespace

std::optional<Value> Json::parse(std::string_view text, Error* error) {
    ValueBuilder builder;
    bool parsed = false;
    try {
        parsed = json::sax_parse(text.begin(), text.end(), &builder, json::input_format_t::json,
                                 /*strict=*/true);
    } catch (const std::exception& e) {
        // sax_parse reports through the handler; this is only a safety net.
        builder.failure = e.what();
    }
    if (parsed && builder.result && (builder.result->isArray() || builder.result->isDictionary())) {
        return std::move(builder.result);
    }
    if (error) {
        *error = readError(!builder.failure.empty() ? builder.failure
                                                    : "JSON text did not start with array or "
                                                      "object.");
    }
    return std::nullopt;
}

std::optional<Value> Json::parse(const Data& data, Error* error) {
    return parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
}

std::optional<std::string> Json::serialize(const Value& value, Error* error) {
    return write(value, error, -1);
}

std::optional<std::string> Json::serializePretty(const Value& value, Error* error) {
    constexpr int kIndent = 2;
    return write(value, error, kIndent);
}

std::optional<std::string> Json::write(const Value& value, Error* error, int indent) {
    json document;
    std::string failure;
    if (!toJson(value, document, failure)) {
        if (error)
            *error = writeError(failure);
        return std::nullopt;
    }
    try {
        return document.dump(indent);
    } catch (const std::exception& e) {
        if (error)
            *error = writeError(e.what());
        return std::nullopt;
    }
}

std::optional<Data> Json::serializeToData(const Value& value, Error* error) {
    std::optional<std::string> text = serialize(value, error);
    if (!text)
        return std::nullopt;
    return dataFromString(*text);
}

bool Json::isValidJSONObject(const Value& value) {
    return (value.isArray() || value.isDictionary()) && serialize(value).has_value();
}

}  // namespace pindle::platform
