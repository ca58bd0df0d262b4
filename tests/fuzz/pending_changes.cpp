// The pending-changes file of the video sync service as stored bytes; what decodes must
// encode again and decode to as many changes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "PindleCore/playlists/PNPendingChangesParser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& parser = pindle::PNPendingChangesParser::shared();
    auto changes = parser.decode(pindle::platform::Data(data, data + size));
    if (!changes)
        return 0;
    if (auto encoded = parser.encode(*changes)) {
        auto again = parser.decode(*encoded);
        if (!again || again->size() != changes->size())
            std::abort();
    }
    return 0;
}
