#include "platform/files/private/StringsFile.hpp"

#include <cstdint>

#include "platform/foundation/Text.hpp"

namespace pindle::platform {
namespace {

class StringsReader {
  public:
    explicit StringsReader(std::string_view text) : text_(text) {}

    int line() const { return line_; }
    bool atEnd() {
        skipSpaceAndComments();
        return failed_ || at_ >= text_.size();
    }
    bool failed() const { return failed_; }

    bool expect(char c) {
        skipSpaceAndComments();
        if (failed_ || at_ >= text_.size() || text_[at_] != c)
            return fail();
        ++at_;
        return true;
    }

    std::optional<std::string> quoted() {
        if (!expect('"'))
            return std::nullopt;
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return out;
            if (c == '\n')
                ++line_;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                break;
            const char e = text_[at_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case '"':
                case '\\':
                case '\'':
                    out += e;
                    break;
                case 'u':
                case 'U': {
                    auto unit = hexUnit();
                    if (!unit)
                        return giveUp();
                    std::uint32_t code = *unit;
                    if (code >= 0xD800 && code < 0xDC00) {
                        // A high surrogate needs its low half right after it.
                        if (text_.substr(at_, 2) != "\\u" && text_.substr(at_, 2) != "\\U")
                            return giveUp();
                        at_ += 2;
                        auto low = hexUnit();
                        if (!low || *low < 0xDC00 || *low >= 0xE000)
                            return giveUp();
                        code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        return giveUp();
                    }
                    Text::appendUTF8(out, code);
                    break;
                }
                default:
                    return giveUp();
            }
        }
        return giveUp();
    }

  private:
    std::nullopt_t giveUp() {
        fail();
        return std::nullopt;
    }
    bool fail() {
        failed_ = true;
        return false;
    }

    std::optional<std::uint32_t> hexUnit() {
        if (at_ + 4 > text_.size())
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= c - '0';
            else if (c >= 'a' && c <= 'f')
                value |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                value |= c - 'A' + 10;
            else
                return std::nullopt;
        }
        return value;
    }

    void skipSpaceAndComments() {
        while (!failed_ && at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '\n') {
                ++line_;
                ++at_;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++at_;
            } else if (text_.substr(at_, 2) == "//") {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
            } else if (text_.substr(at_, 2) == "/*") {
                const auto end = text_.find("*/", at_ + 2);
                if (end == std::string_view::npos) {
                    fail();
                    return;
                }
                for (auto i = at_; i < end; ++i) line_ += text_[i] == '\n';
                at_ = end + 2;
            } else {
                return;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
    bool failed_ = false;
};

}  // namespace

std::optional<std::map<std::string, std::string>> StringsFile::parse(std::string_view text,
                                                                     int* errorLine) {
    // A byte-order mark is allowed at the start.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    StringsReader reader(text);
    std::map<std::string, std::string> table;
    while (!reader.atEnd()) {
        auto key = reader.quoted();
        if (!key || !reader.expect('='))
            break;
        auto value = reader.quoted();
        if (!value || !reader.expect(';'))
            break;
        table[std::move(*key)] = std::move(*value);
    }
    if (reader.failed()) {
        if (errorLine)
            *errorLine = reader.line();
        return std::nullopt;
    }
    return table;
}

}  // namespace pindle::platform
