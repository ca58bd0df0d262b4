#include "platform/foundation/JsonStreamReader.hpp"

#include <cstring>
#include <utility>

namespace pindle::platform {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

}  // namespace

JsonStreamReader::JsonStreamReader(Json::ElementHandler element) : element_(std::move(element)) {}

JsonStreamReader::JsonStreamReader(Json::Events& events) : events_(&events) {}

bool JsonStreamReader::append(const Data& piece) {
    return append(std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
}

bool JsonStreamReader::fail(const char* reason) {
    if (state_ != State::failed) {
        state_ = State::failed;
        error_ = Json::readFailure(reason);
        pending_ = std::string();
    }
    return false;
}

bool JsonStreamReader::takeElement(std::string_view text) {
    Error error;
    if (events_) {
        if (Json::readElementEvents(text, *events_, scratch_, &error))
            return true;
    } else if (std::optional<Value> value = Json::readElement(text, room_, &error)) {
        element_(std::move(*value));
        return true;
    }
    state_ = State::failed;
    error_ = std::move(error);
    pending_ = std::string();
    return false;
}

bool JsonStreamReader::append(std::string_view piece) {
    const char* const begin = piece.data();
    const char* const end = begin + piece.size();
    const char* next = begin;

    while (next != end && state_ == State::beforeText) {
        const char c = *next++;
        // The mark counts only as the very first bytes of the text; a part of it is no JSON.
        if (markBytesSeen_ == bytesBefore_ && markBytesSeen_ < byteOrderMark.size()) {
            if (c == byteOrderMark[markBytesSeen_]) {
                ++markBytesSeen_;
                ++bytesBefore_;
                continue;
            }
            if (markBytesSeen_ > 0)
                return fail("JSON text did not start with array or object.");
        }
        ++bytesBefore_;
        if (isBlank(c))
            continue;
        if (c == '[') {
            state_ = State::inArray;
        } else if (c == '{') {
            state_ = State::inObject;
            pending_.push_back(c);
        } else {
            return fail("JSON text did not start with array or object.");
        }
    }

    if (state_ == State::inObject) {
        pending_.append(next, end);
        return true;
    }

    // The element arriving began at `start` in this piece, or in an earlier one (its bytes so
    // far in pending_) when `start` is the piece's beginning and pending_ holds them.
    const char* start = next;
    const auto elementText = [&](const char* at) {
        if (pending_.empty())
            return std::string_view(start, static_cast<std::size_t>(at - start));
        pending_.append(start, at);
        return std::string_view(pending_);
    };
    while (next != end && state_ == State::inArray) {
        if (inString_) {
            if (escaped_) {
                escaped_ = false;
                ++next;
                continue;
            }
            // Most of a reply is string bytes: look only for the quote that ends the string and
            // a backslash before it.
            const auto find = [](const char* from, const char* to, char c) {
                const void* found = std::memchr(from, c, static_cast<std::size_t>(to - from));
                return found ? static_cast<const char*>(found) : to;
            };
            const char* quote = find(next, end, '"');
            const char* backslash = find(next, quote, '\\');
            if (backslash != quote) {
                escaped_ = true;
                next = backslash + 1;
            } else if (quote != end) {
                inString_ = false;
                next = quote + 1;
            } else {
                next = end;
            }
            continue;
        }
        const char c = *next;
        switch (c) {
            case '"':
                inString_ = true;
                break;
            case '[':
            case '{':
                // The top-level array is one level; Json refuses what nests deeper than its
                // limit, so nothing more of such an element needs keeping.
                if (++depth_ + 1 > Json::maximumNestingDepth)
                    return fail("Nesting too deep.");
                break;
            case ']':
            case '}':
                if (depth_ > 0) {
                    --depth_;
                    break;
                }
                if (c == '}')
                    return fail("Expected ',' or ']' in an array.");
                {
                    const std::string_view text = elementText(next);
                    const bool empty =
                        !sawElement_ && text.find_first_not_of(" \n\r\t") == std::string_view::npos;
                    if (!empty && !takeElement(text))
                        return false;
                }
                pending_.clear();
                state_ = State::afterArray;
                break;
            case ',':
                if (depth_ > 0)
                    break;
                if (!takeElement(elementText(next)))
                    return false;
                sawElement_ = true;
                pending_.clear();
                start = next + 1;
                break;
            default:
                break;
        }
        ++next;
    }
    if (state_ == State::inArray) {
        pending_.append(start, next);
        return true;
    }

    while (next != end && state_ == State::afterArray) {
        if (!isBlank(*next++))
            return fail("Garbage at end.");
    }
    return state_ != State::failed;
}

std::optional<Value> JsonStreamReader::finish(Error* error) {
    std::optional<Value> value;
    switch (state_) {
        case State::beforeText:
            fail("JSON text did not start with array or object.");
            break;
        case State::inArray:
            fail("Unexpected end of text in an array.");
            break;
        case State::afterArray:
            value = Value(Array());
            break;
        case State::inObject: {
            Error objectError;
            value = Json::parse(std::string_view(pending_), &objectError);
            pending_ = std::string();
            if (!value) {
                state_ = State::failed;
                error_ = std::move(objectError);
            }
            break;
        }
        case State::failed:
            break;
    }
    if (!value && error && error_)
        *error = *error_;
    return value;
}

}  // namespace pindle::platform
