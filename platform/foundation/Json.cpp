#include "platform/foundation/Json.hpp"

#include <locale.h>
#include <stdlib.h>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
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

// The lexical half of reading JSON, shared by the two readers below so that they accept and
// refuse exactly the same text: blanks, literals, strings (copied from the text in runs between
// escapes) and numbers (converted where they stand). After a failure every read gives false
// (or a null value) and failure() says why; callers return at once.
class Scanner {
  public:
    const std::string& failure() const { return failure_; }

  protected:
    explicit Scanner(std::string_view text) : next_(text.data()), end_(text.data() + text.size()) {}

    // A number as read: an integer that fits int64, or a double.
    struct Number {
        bool integral = false;
        std::int64_t whole = 0;
        double real = 0;
    };

    bool failed() const { return !failure_.empty(); }
    std::nullopt_t fail(const char* reason) {
        if (failure_.empty())
            failure_ = reason;
        return std::nullopt;
    }
    bool refuse(const char* reason) {
        fail(reason);
        return false;
    }

    void skipBlanks() {
        while (next_ != end_ &&
               (*next_ == ' ' || *next_ == '\n' || *next_ == '\r' || *next_ == '\t'))
            ++next_;
    }

    // Skips the byte-order mark at the very start of the text, if there is one.
    void skipByteOrderMark() {
        static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
        if (static_cast<std::size_t>(end_ - next_) >= byteOrderMark.size() &&
            std::string_view(next_, byteOrderMark.size()) == byteOrderMark) {
            next_ += byteOrderMark.size();
        }
    }

    bool readWord(std::string_view word) {
        if (static_cast<std::size_t>(end_ - next_) < word.size() ||
            std::string_view(next_, word.size()) != word) {
            return refuse("Invalid literal.");
        }
        next_ += word.size();
        return true;
    }

    // Reads the string whose opening quote is at next_, appending its text to `out`.
    bool readString(std::string& out) {
        ++next_;  // '"'
        const char* run = next_;
        if (!skipPlainBytes())
            return false;
        out.append(run, next_);
        return readStringRest(out);
    }

    // The same as a view: into the text itself when the string holds no escape, else into
    // `scratch`. Nothing after a failure. The view lasts until `scratch` or the text changes.
    std::optional<std::string_view> readStringView(std::string& scratch) {
        ++next_;  // '"'
        const char* run = next_;
        if (!skipPlainBytes())
            return std::nullopt;
        if (next_ != end_ && *next_ == '"') {
            ++next_;
            return std::string_view(run, static_cast<std::size_t>(next_ - 1 - run));
        }
        scratch.assign(run, next_);
        if (!readStringRest(scratch))
            return std::nullopt;
        return std::string_view(scratch);
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool readNumber(Number& number) {
        const char* start = next_;
        const bool negative = *next_ == '-';
        if (negative)
            ++next_;
        if (next_ == end_ || !isDigit(*next_))
            return refuse("Invalid number.");
        if (*next_ == '0') {
            ++next_;
        } else {
            while (next_ != end_ && isDigit(*next_)) ++next_;
        }
        bool integral = true;
        if (next_ != end_ && *next_ == '.') {
            integral = false;
            ++next_;
            if (next_ == end_ || !isDigit(*next_))
                return refuse("Invalid number.");
            while (next_ != end_ && isDigit(*next_)) ++next_;
        }
        if (next_ != end_ && (*next_ == 'e' || *next_ == 'E')) {
            integral = false;
            ++next_;
            if (next_ != end_ && (*next_ == '+' || *next_ == '-'))
                ++next_;
            if (next_ == end_ || !isDigit(*next_))
                return refuse("Invalid number.");
            while (next_ != end_ && isDigit(*next_)) ++next_;
        }
        if (integral) {
            // Integers that fit int64 stay integers; larger ones become doubles.
            std::uint64_t magnitude = 0;
            const auto [end, error] = std::from_chars(start + negative, next_, magnitude);
            const std::uint64_t limit =
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + negative;
            if (error == std::errc() && end == next_ && magnitude <= limit) {
                number.integral = true;
                number.whole = negative ? static_cast<std::int64_t>(0 - magnitude)
                                        : static_cast<std::int64_t>(magnitude);
                return true;
            }
        }
        double real = 0;
        const auto [end, error] = std::from_chars(start, next_, real);
        if (error == std::errc::result_out_of_range) {
            // Too small to tell from zero reads as the nearest double; too large is no number.
            static const locale_t plainDigits = newlocale(LC_ALL_MASK, "C", nullptr);
            const std::string copy(start, next_);
            real = strtod_l(copy.c_str(), nullptr, plainDigits);
        } else if (error != std::errc() || end != next_) {
            return refuse("Invalid number.");
        }
        if (!std::isfinite(real))
            return refuse("Number out of range.");
        number.integral = false;
        number.real = real;
        return true;
    }

    const char* next_;
    const char* const end_;

  private:
    static int hexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // The four hexadecimal digits after "\u", or -1.
    int readHex4() {
        if (end_ - next_ < 4)
            return -1;
        int code = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit(next_[i]);
            if (digit < 0)
                return -1;
            code = code * 16 + digit;
        }
        next_ += 4;
        return code;
    }

    // The length of the well-formed UTF-8 sequence at `at` (shortest form, no surrogates,
    // nothing above U+10FFFF), or 0.
    std::size_t utf8Length(const char* at) const {
        const auto byte = [&](std::ptrdiff_t i) {
            return static_cast<unsigned char>(at[i]);
        };
        const auto within = [&](std::ptrdiff_t i, unsigned low, unsigned high) {
            return at + i < end_ && byte(i) >= low && byte(i) <= high;
        };
        const unsigned lead = byte(0);
        if (lead >= 0xC2 && lead <= 0xDF)
            return within(1, 0x80, 0xBF) ? 2 : 0;
        if (lead >= 0xE0 && lead <= 0xEF) {
            const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
            const unsigned high = lead == 0xED ? 0x9F : 0xBF;
            return within(1, low, high) && within(2, 0x80, 0xBF) ? 3 : 0;
        }
        if (lead >= 0xF0 && lead <= 0xF4) {
            const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
            const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
            return within(1, low, high) && within(2, 0x80, 0xBF) && within(3, 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    // Whether the eight bytes at `at` are all ASCII at or above a blank and none is a quote
    // or a backslash.
    static bool isPlainASCII(const char* at) {
        constexpr std::uint64_t ones = 0x0101010101010101ULL;
        constexpr std::uint64_t highs = 0x8080808080808080ULL;
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        const auto hasZero = [](std::uint64_t v) {
            return (v - ones) & ~v & highs;
        };
        const std::uint64_t below = (word - ones * 0x20) & ~word & highs;
        return ((word & highs) | below | hasZero(word ^ (ones * '"')) |
                hasZero(word ^ (ones * '\\'))) == 0;
    }

    // Moves past the bytes of a string that stand for themselves, up to the quote, backslash or
    // control character that ends them (or the end of the text); false on malformed UTF-8.
    bool skipPlainBytes() {
        // Eight bytes at a time while none of them needs a look of its own.
        while (end_ - next_ >= 8 && isPlainASCII(next_)) next_ += 8;
        while (next_ != end_) {
            const auto c = static_cast<unsigned char>(*next_);
            if (c == '"' || c == '\\' || c < 0x20)
                return true;
            if (c < 0x80) {
                ++next_;
                continue;
            }
            const std::size_t length = utf8Length(next_);
            if (length == 0)
                return refuse("Invalid UTF-8 in a string.");
            next_ += length;
        }
        return true;
    }

    // The rest of a string from the byte that ended its plain bytes: escapes and further runs,
    // appended to `out`, up to and past the closing quote.
    bool readStringRest(std::string& out) {
        while (true) {
            if (next_ == end_)
                return refuse("Unterminated string.");
            const char c = *next_++;
            if (c == '"')
                return true;
            if (c != '\\')
                return refuse("Control character in a string.");
            if (next_ == end_)
                return refuse("Unterminated string.");
            switch (*next_++) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    const int unit = readHex4();
                    if (unit < 0)
                        return refuse("Invalid \\u escape.");
                    std::uint32_t code = static_cast<std::uint32_t>(unit);
                    if (code >= 0xDC00 && code <= 0xDFFF)
                        return refuse("Lone low surrogate escape.");
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        if (end_ - next_ < 2 || next_[0] != '\\' || next_[1] != 'u')
                            return refuse("Lone high surrogate escape.");
                        next_ += 2;
                        const int low = readHex4();
                        if (low < 0xDC00 || low > 0xDFFF)
                            return refuse("Lone high surrogate escape.");
                        code = 0x10000 + ((code - 0xD800) << 10) +
                               (static_cast<std::uint32_t>(low) - 0xDC00);
                    }
                    Text::appendUTF8(out, code);
                    break;
                }
                default:
                    return refuse("Invalid escape in a string.");
            }
            const char* run = next_;
            if (!skipPlainBytes())
                return false;
            out.append(run, next_);
        }
    }

    std::string failure_;
};

// Reads JSON text in one pass, straight into Values: the members of every open object and the
// elements of every open array wait on two shared stacks until it closes, when they move into
// a container of exactly their number. Nesting is bounded by Json::maximumNestingDepth, so
// hostile text cannot exhaust the stack. When an element handler is given, each element of a
// top-level array goes to it as soon as it is read instead of into the array, so a long list
// never exists whole.
class Reader : public Scanner {
  public:
    Reader(std::string_view text, const Json::ElementHandler* element, Json::ReadingRoom& room)
        : Scanner(text), element_(element), members_(room.members), elements_(room.elements) {}

    // The top-level array or object, or nothing (then failure() says why).
    std::optional<Value> read() {
        skipByteOrderMark();
        skipBlanks();
        if (next_ == end_ || (*next_ != '[' && *next_ != '{'))
            return fail("JSON text did not start with array or object.");
        Value value = readValue(0);
        if (failed())
            return std::nullopt;
        skipBlanks();
        if (next_ != end_)
            return fail("Garbage at end.");
        return value;
    }

    // One element of a top-level array, standing alone with the blanks around it.
    std::optional<Value> readElement() {
        skipBlanks();
        Value value = readValue(1);
        if (failed())
            return std::nullopt;
        skipBlanks();
        if (next_ != end_)
            return fail("Expected ',' or ']' in an array.");
        return value;
    }

  private:
    // Each read gives its value straight into its caller's storage; after a failure the value
    // is null and failed() is true, and every caller returns at once.
    Value refuseValue(const char* reason) {
        fail(reason);
        return Value();
    }

    Value readValue(int depth) {
        if (next_ == end_)
            return refuseValue("Unexpected end of text.");
        switch (*next_) {
            case '{':
                return readObject(depth + 1);
            case '[':
                return readArray(depth + 1);
            case '"': {
                std::string text;
                if (!readString(text))
                    return Value();
                return Value(std::move(text));
            }
            case 't':
                return readWord("true") ? Value(true) : Value();
            case 'f':
                return readWord("false") ? Value(false) : Value();
            case 'n':
                readWord("null");
                return Value();
            default: {
                Number number;
                if (!readNumber(number))
                    return Value();
                return number.integral ? Value(number.whole) : Value(number.real);
            }
        }
    }

    Value readObject(int depth) {
        if (depth > Json::maximumNestingDepth)
            return refuseValue("Nesting too deep.");
        ++next_;  // '{'
        const std::size_t first = members_.size();
        skipBlanks();
        if (next_ != end_ && *next_ == '}') {
            ++next_;
            return Value(Dictionary());
        }
        while (true) {
            skipBlanks();
            if (next_ == end_ || *next_ != '"')
                return refuseValue("Expected a member name.");
            std::string key;
            if (!readString(key))
                return Value();
            skipBlanks();
            if (next_ == end_ || *next_ != ':')
                return refuseValue("Expected ':' after a member name.");
            ++next_;
            skipBlanks();
            // A nested container takes its own members off the stack before it returns, so
            // this member goes on top of this object's.
            Value value = readValue(depth);
            if (failed())
                return Value();
            members_.emplace_back(std::move(key), std::move(value));
            skipBlanks();
            if (next_ == end_)
                return refuseValue("Unexpected end of text in an object.");
            if (*next_ == ',') {
                ++next_;
                continue;
            }
            if (*next_ != '}')
                return refuseValue("Expected ',' or '}' in an object.");
            ++next_;
            break;
        }
        Dictionary members = Dictionary::fromEntries(std::span(members_).subspan(first));
        members_.resize(first);
        return Value(std::move(members));
    }

    Value readArray(int depth) {
        if (depth > Json::maximumNestingDepth)
            return refuseValue("Nesting too deep.");
        ++next_;  // '['
        const bool handOut = element_ && depth == 1;
        const std::size_t first = elements_.size();
        skipBlanks();
        if (next_ != end_ && *next_ == ']') {
            ++next_;
            return Value(Array());
        }
        while (true) {
            skipBlanks();
            Value value = readValue(depth);
            if (failed())
                return Value();
            if (handOut)
                (*element_)(std::move(value));
            else
                elements_.push_back(std::move(value));
            skipBlanks();
            if (next_ == end_)
                return refuseValue("Unexpected end of text in an array.");
            if (*next_ == ',') {
                ++next_;
                continue;
            }
            if (*next_ != ']')
                return refuseValue("Expected ',' or ']' in an array.");
            ++next_;
            break;
        }
        const auto begin = elements_.begin() + static_cast<std::ptrdiff_t>(first);
        Array array(std::make_move_iterator(begin), std::make_move_iterator(elements_.end()));
        elements_.erase(begin, elements_.end());
        return Value(std::move(array));
    }

    const Json::ElementHandler* element_;
    // Both end as empty as they began, but keep their room for the next read.
    Dictionary::Entries& members_;
    std::vector<Value>& elements_;
};

// Reads one value of JSON text as Reader does, building nothing: each part goes to the events
// as it is read, strings as views into the text where they hold no escape. Refuses exactly what
// Reader refuses, with the same reasons; the events before a refusal have been given by then.
class EventReader : public Scanner {
  public:
    EventReader(std::string_view text, Json::Events& events, std::string& scratch)
        : Scanner(text), events_(events), scratch_(scratch) {}

    // One element of a top-level array, standing alone with the blanks around it; false when it
    // is not one (then failure() says why).
    bool readElement() {
        skipBlanks();
        if (!readValue(1))
            return false;
        skipBlanks();
        if (next_ != end_)
            return refuse("Expected ',' or ']' in an array.");
        return true;
    }

  private:
    bool readValue(int depth) {
        if (next_ == end_)
            return refuse("Unexpected end of text.");
        switch (*next_) {
            case '{':
                return readObject(depth + 1);
            case '[':
                return readArray(depth + 1);
            case '"': {
                const std::optional<std::string_view> text = readStringView(scratch_);
                if (!text)
                    return false;
                events_.string(*text);
                return true;
            }
            case 't':
                return readWord("true") && (events_.boolean(true), true);
            case 'f':
                return readWord("false") && (events_.boolean(false), true);
            case 'n':
                return readWord("null") && (events_.null(), true);
            default: {
                Number number;
                if (!readNumber(number))
                    return false;
                if (number.integral)
                    events_.integer(number.whole);
                else
                    events_.real(number.real);
                return true;
            }
        }
    }

    bool readObject(int depth) {
        if (depth > Json::maximumNestingDepth)
            return refuse("Nesting too deep.");
        ++next_;  // '{'
        events_.beginObject();
        skipBlanks();
        if (next_ != end_ && *next_ == '}') {
            ++next_;
            events_.endObject();
            return true;
        }
        while (true) {
            skipBlanks();
            if (next_ == end_ || *next_ != '"')
                return refuse("Expected a member name.");
            const std::optional<std::string_view> name = readStringView(scratch_);
            if (!name)
                return false;
            skipBlanks();
            if (next_ == end_ || *next_ != ':')
                return refuse("Expected ':' after a member name.");
            events_.memberName(*name);
            ++next_;
            skipBlanks();
            if (!readValue(depth))
                return false;
            skipBlanks();
            if (next_ == end_)
                return refuse("Unexpected end of text in an object.");
            if (*next_ == ',') {
                ++next_;
                continue;
            }
            if (*next_ != '}')
                return refuse("Expected ',' or '}' in an object.");
            ++next_;
            events_.endObject();
            return true;
        }
    }

    bool readArray(int depth) {
        if (depth > Json::maximumNestingDepth)
            return refuse("Nesting too deep.");
        ++next_;  // '['
        events_.beginArray();
        skipBlanks();
        if (next_ != end_ && *next_ == ']') {
            ++next_;
            events_.endArray();
            return true;
        }
        while (true) {
            skipBlanks();
            if (!readValue(depth))
                return false;
            skipBlanks();
            if (next_ == end_)
                return refuse("Unexpected end of text in an array.");
            if (*next_ == ',') {
                ++next_;
                continue;
            }
            if (*next_ != ']')
                return refuse("Expected ',' or ']' in an array.");
            ++next_;
            events_.endArray();
            return true;
        }
    }

    Json::Events& events_;
    std::string& scratch_;  // a string with escapes, while its event is given
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
    return read(text, nullptr, error);
}

std::optional<Value> Json::parseElements(std::string_view text, const ElementHandler& element,
                                         Error* error) {
    return read(text, &element, error);
}

std::optional<Value> Json::parseElements(const Data& data, const ElementHandler& element,
                                         Error* error) {
    return read(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &element,
                error);
}

std::optional<Value> Json::read(std::string_view text, const ElementHandler* element,
                                Error* error) {
    ReadingRoom room;
    Reader reader(text, element, room);
    std::optional<Value> value = reader.read();
    if (!value && error)
        *error = readError(reader.failure());
    return value;
}

bool Json::readElementEvents(std::string_view text, Events& events, std::string& scratch,
                             Error* error) {
    EventReader reader(text, events, scratch);
    if (reader.readElement())
        return true;
    if (error)
        *error = readError(reader.failure());
    return false;
}

std::optional<Value> Json::readElement(std::string_view text, ReadingRoom& room, Error* error) {
    Reader reader(text, nullptr, room);
    std::optional<Value> value = reader.readElement();
    if (!value) {
        // A failed read may leave the members and elements it had read behind.
        room.members.clear();
        room.elements.clear();
    }
    if (!value && error)
        *error = readError(reader.failure());
    return value;
}

Error Json::readFailure(const std::string& reason) {
    return readError(reason);
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
