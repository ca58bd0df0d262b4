#include "PindleCore/model/PNVideoState.hpp"

#include <array>
#include <utility>

namespace pindle {

namespace {
constexpr std::array<std::pair<PNVideoState, std::string_view>, 5> states{{
    {PNVideoState::unknown, "unknown"},
    {PNVideoState::processing, "processing"},
    {PNVideoState::processed, "processed"},
    {PNVideoState::failed, "failed"},
    {PNVideoState::all, "all"},
}};
}  // namespace

std::string_view rawValue(PNVideoState state) {
    for (const auto& [candidate, text] : states) {
        if (candidate == state)
            return text;
    }
    return "unknown";
}

std::optional<PNVideoState> videoStateFromRawValue(std::string_view text) {
    for (const auto& [state, candidate] : states) {
        if (candidate == text)
            return state;
    }
    return std::nullopt;
}

}  // namespace pindle
