#include "platform/foundation/Text.hpp"

#include <dlfcn.h>
#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <limits>
#include <memory>
#include <type_traits>

namespace pindle::platform {

namespace {

// ICU's names carry its major version (ubrk_open is a macro for ubrk_open_72); these turn the
// renamed identifier into the text dlsym needs.
#define PINDLE_ICU_TEXT(name) PINDLE_ICU_TEXT_EXPANDED(name)
#define PINDLE_ICU_TEXT_EXPANDED(name) #name

// ICU's common library, opened on the first character count rather than when the platform
// library loads: mapping and relocating it costs every process half a megabyte of memory,
// and most never count characters. Resolved once; never closed.
struct BreakIteration {
    decltype(&utext_openUTF8) openText = nullptr;
    decltype(&utext_close) closeText = nullptr;
    decltype(&ubrk_open) openBreaks = nullptr;
    decltype(&ubrk_close) closeBreaks = nullptr;
    decltype(&ubrk_setUText) setText = nullptr;
    decltype(&ubrk_first) first = nullptr;
    decltype(&ubrk_next) next = nullptr;

    // The resolved functions, or null when the library or one of them is missing.
    static const BreakIteration* shared() {
        static const BreakIteration* loaded = load();
        return loaded;
    }

  private:
    static const BreakIteration* load() {
        void* handle =
            dlopen("libicuuc.so." PINDLE_ICU_TEXT(U_ICU_VERSION_MAJOR_NUM), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        auto* functions = new BreakIteration();
        bool complete = true;
        auto resolve = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(handle, name));
            complete = complete && slot != nullptr;
        };
        resolve(functions->openText, PINDLE_ICU_TEXT(utext_openUTF8));
        resolve(functions->closeText, PINDLE_ICU_TEXT(utext_close));
        resolve(functions->openBreaks, PINDLE_ICU_TEXT(ubrk_open));
        resolve(functions->closeBreaks, PINDLE_ICU_TEXT(ubrk_close));
        resolve(functions->setText, PINDLE_ICU_TEXT(ubrk_setUText));
        resolve(functions->first, PINDLE_ICU_TEXT(ubrk_first));
        resolve(functions->next, PINDLE_ICU_TEXT(ubrk_next));
        if (complete)
            return functions;
        delete functions;
        return nullptr;
    }
};

}  // namespace

std::optional<std::int64_t> Text::signedInt64Value(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    return int64Value(text);
}

std::optional<std::int64_t> Text::int64Value(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    // Accumulate as a negative number: its range is one larger, so INT64_MIN parses too.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

std::size_t Text::characterCount(std::string_view text) {
    if (text.empty())
        return 0;
    const BreakIteration* icu = BreakIteration::shared();
    if (!icu)
        return text.size();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> utext(
        icu->openText(nullptr, text.data(), static_cast<int64_t>(text.size()), &status),
        icu->closeText);
    if (U_FAILURE(status))
        return text.size();
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        icu->openBreaks(UBRK_CHARACTER, "", nullptr, 0, &status), icu->closeBreaks);
    if (U_FAILURE(status))
        return text.size();
    icu->setText(breaks.get(), utext.get(), &status);
    if (U_FAILURE(status))
        return text.size();
    std::size_t count = 0;
    icu->first(breaks.get());
    while (icu->next(breaks.get()) != UBRK_DONE) ++count;
    return count;
}

void Text::appendUTF8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool Text::isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length;
        char32_t codePoint;
        char32_t minimum;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, codePoint = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, codePoint = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, codePoint = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::vector<std::string> Text::split(std::string_view text, char separator, bool omitEmpty) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        const std::string_view piece = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty() || !omitEmpty)
            pieces.emplace_back(piece);
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

}  // namespace pindle::platform
