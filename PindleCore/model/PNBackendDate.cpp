#include "PindleCore/model/PNBackendDate.hpp"

#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

std::optional<platform::Date> parseDate(std::string_view text) {
    return platform::DateFormatter::utcMillisecondsDate(text);
}

std::string toString(platform::Date date) {
    return platform::DateFormatter::utcMillisecondsString(date);
}

}  // namespace pindle
