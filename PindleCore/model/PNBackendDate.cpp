#include "PindleCore/model/PNBackendDate.hpp"

#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

std::optional<platform::Date> parseDate(std::string_view text) {
    return platform::DateFormatter(platform::DateFormatter::utcMillisecondsPattern).date(text);
}

std::string toString(platform::Date date) {
    return platform::DateFormatter(platform::DateFormatter::utcMillisecondsPattern).string(date);
}

}  // namespace pindle
