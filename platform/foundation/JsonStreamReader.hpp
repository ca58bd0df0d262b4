// JsonStreamReader: reads JSON text that arrives in pieces (a reply read off the network), so
// that a long array is never held whole, neither as text nor as a value.
//
// Each element of a top-level array goes to the element handler as soon as its last byte is
// in, in order, exactly as Json::parseElements() would hand it over from the whole text; the
// value finish() gives, and whether the text is JSON at all, are parseElements()'s too. A small
// resumable scan (nesting depth, inside a string, after a backslash) finds where each element
// ends; the element's bytes are then read by the JSON reader itself, so the two can never
// disagree about what is JSON. Only the bytes of the element still arriving are kept (and only
// when it straddles two pieces). A top-level object is kept whole and read by finish().
//
// A reader made with Json::Events builds no value at all: each element's parts go to the events
// as it is read (the array's own brackets are not reported), so a caller that maps elements to
// records of its own needs no value tree in between. Everything else is the same, a top-level
// object included, which finish() gives whole.
//
// When the text turns out not to be JSON part way through, elements before the fault (and with
// events, the parts of the element at fault) may already have been handed over; the caller
// drops what it made of them. The error is of CocoaError::domain, code
// CocoaError::propertyListReadCorrupt, as Json's.
//
// Thread-safety: none. One reader is fed by one thread at a time; the handler and the events
// run on the thread that feeds it, inside append().
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class JsonStreamReader {
  public:
    // REQUIRES: element is callable.
    explicit JsonStreamReader(Json::ElementHandler element);
    // Reports the elements to `events`, which outlive the reader.
    explicit JsonStreamReader(Json::Events& events);

    JsonStreamReader(const JsonStreamReader&) = delete;
    JsonStreamReader& operator=(const JsonStreamReader&) = delete;

    // Takes the next piece of the text. False once the text is known not to be JSON; later
    // pieces are then ignored.
    bool append(std::string_view piece);
    bool append(const Data& piece);

    // Ends the text: what Json::parseElements() gives for the whole of it (an empty array when
    // it is an array, the object whole when it is one), or nothing when it is not JSON; then
    // `*error` (when given) says why. REQUIRES: called once, after the last append().
    std::optional<Value> finish(Error* error = nullptr);

  private:
    enum class State {
        beforeText,  // byte-order mark and blanks before the first bracket
        inArray,     // between the top-level array's brackets
        afterArray,  // blanks after its closing bracket
        inObject,    // a top-level object, kept whole
        failed,
    };

    // Hands over the element whose text is `text`; false when it is not one.
    bool takeElement(std::string_view text);
    bool fail(const char* reason);

    static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

    const Json::ElementHandler element_;
    Json::Events* const events_ = nullptr;  // instead of element_, when given
    State state_ = State::beforeText;
    std::size_t bytesBefore_ = 0;    // bytes seen before the first bracket
    std::size_t markBytesSeen_ = 0;  // of them, bytes of the byte-order mark
    // The element arriving, from the byte after the last separator (when it straddles pieces),
    // or the whole top-level object.
    std::string pending_;
    // Where the scan stands inside the element arriving.
    int depth_ = 0;  // open arrays and objects inside it
    bool inString_ = false;
    bool escaped_ = false;
    bool sawElement_ = false;  // a separator or an element has been read
    std::optional<Error> error_;
    Json::ReadingRoom room_;  // shared by the elements' reads
    std::string scratch_;     // shared by the elements' reads with events
};

}  // namespace pindle::platform
