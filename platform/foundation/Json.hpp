// Json: reading and writing JSON text as Values, the platform's JSON serialization.
//
// Reading accepts only an object or an array at the top level: a bare scalar, an empty
// body or malformed text is "not JSON" and gives no value. Integers that fit a signed
// 64-bit integer stay integers; every other number (fractions, exponents, integers beyond
// the int64 range) becomes a double; true and false become bools, never numbers. Text
// must be UTF-8 (a leading byte-order mark is skipped).
//
// Writing is compact (no blanks, no line breaks) with dictionary keys in ascending byte
// order. Only null, bools, numbers, strings, arrays and dictionaries can be written: a
// NaN or infinite double, a string that is not valid UTF-8, a string set, an object
// reference or an error value makes the whole write fail.
//
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Dictionary.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class Json {
  public:
    Json() = delete;

    // Arrays and dictionaries nested deeper than this are refused when reading (they
    // would only come from a hostile peer and would exhaust the stack).
    static constexpr int maximumNestingDepth = 512;

    // The value of `text`, or nothing when it is not JSON; then `*error` (when given)
    // becomes an error of CocoaError::domain, code CocoaError::propertyListReadCorrupt.
    static std::optional<Value> parse(std::string_view text, Error* error = nullptr);
    static std::optional<Value> parse(const Data& data, Error* error = nullptr);

    // Where a read keeps the members and elements of the objects and arrays still open; it is
    // as empty after the read as before. Reads one after another (JsonStreamReader's) share
    // one, so that they need not grow it again each time.
    struct ReadingRoom {
        Dictionary::Entries members;
        std::vector<Value> elements;
    };

    // Takes each element of a top-level array as it is read.
    using ElementHandler = std::function<void(Value&& element)>;

    // Takes the parts of a value as they are read, in the text's order, when a read builds no
    // value (JsonStreamReader's event reading): a container's beginning, its members' names and
    // values or its elements, its end. A string or a name is a view that lasts only for the call.
    // Numbers come as parse() would keep them: an integer that fits int64, else a double. The
    // reader checks the text exactly as parse() does; the events before a refusal have been
    // given by the time it is known, so what was made of them is dropped.
    class Events {
      public:
        virtual ~Events() = default;
        virtual void beginObject() = 0;
        // The name of the member whose value comes next.
        virtual void memberName(std::string_view name) = 0;
        virtual void endObject() = 0;
        virtual void beginArray() = 0;
        virtual void endArray() = 0;
        virtual void string(std::string_view text) = 0;
        virtual void integer(std::int64_t number) = 0;
        virtual void real(double number) = 0;
        virtual void boolean(bool value) = 0;
        virtual void null() = 0;
    };
    // As parse(), but when the text is an array each of its elements goes to `element` as
    // soon as it is read, in order, and the array returned is empty: a long list is never
    // held whole. An object is returned whole and `element` is not called. When the text
    // turns out not to be JSON part way through, the elements before the fault have already
    // been handed over; the caller drops what it made of them.
    static std::optional<Value> parseElements(std::string_view text, const ElementHandler& element,
                                              Error* error = nullptr);
    static std::optional<Value> parseElements(const Data& data, const ElementHandler& element,
                                              Error* error = nullptr);

    // The compact JSON text of `value`, or nothing when some part of it cannot be written;
    // then `*error` (when given) becomes an error of CocoaError::domain, code
    // CocoaError::propertyListWriteInvalid. A scalar at the top level is written as itself.
    static std::optional<std::string> serialize(const Value& value, Error* error = nullptr);
    // The same, laid out for reading: one member a line, indented by two spaces a level.
    static std::optional<std::string> serializePretty(const Value& value, Error* error = nullptr);
    static std::optional<Data> serializeToData(const Value& value, Error* error = nullptr);

    // True when serialize() would succeed and `value` is an array or a dictionary.
    static bool isValidJSONObject(const Value& value);

  private:
    friend class JsonStreamReader;

    static std::optional<Value> read(std::string_view text, const ElementHandler* element,
                                     Error* error);
    // `text` as one element of a top-level array: any value, blanks around it allowed, nested
    // as deep as an element may be. Fails as read() does.
    static std::optional<Value> readElement(std::string_view text, ReadingRoom& room, Error* error);
    // The same, the element's parts going to `events` instead of into a value; `scratch` holds
    // strings with escapes while their events are given. False when the text is no element.
    static bool readElementEvents(std::string_view text, Events& events, std::string& scratch,
                                  Error* error);
    // The error a read that fails for `reason` gives.
    static Error readFailure(const std::string& reason);
    // Compact with a negative indent.
    static std::optional<std::string> write(const Value& value, Error* error, int indent);
};

}  // namespace pindle::platform
