#include "PindleCore/model/PNBackendDate.hpp"

#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

namespace {

// Compiling the pattern costs more than a conversion, and a list reply converts two dates per
// video; the formatter is immutable, so one serves every thread.
const platform::DateFormatter& backendFormatter() {
    static const platform::DateFormatter formatter(platform::DateFormatter::utcMillisecondsPattern);
    return formatter;
}

}  // namespace

std::optional<platform::Date> parseDate(std::string_view text) {
    return backendFormatter().date(text);
}

std::string toString(platform::Date date) {
    return backendFormatter().string(date);
}

}  // namespace pindle
