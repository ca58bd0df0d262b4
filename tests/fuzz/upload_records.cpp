// The upload records file ("uploadingData") as stored bytes; what decodes must encode again
// and decode to as many records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "PindleCore/uploads/PNUploadingState.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pindle::platform::Data bytes(data, data + size);
    auto records = pindle::PNUploadingState::decode(bytes);
    if (!records)
        return 0;
    if (auto encoded = pindle::PNUploadingState::encode(*records)) {
        auto again = pindle::PNUploadingState::decode(*encoded);
        if (!again || again->size() != records->size())
            std::abort();
    }
    return 0;
}
