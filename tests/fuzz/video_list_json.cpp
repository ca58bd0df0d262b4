// The backend's JSON list of videos, as the requester hands it to the parser: a parsed body
// and the response's header fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "PindleCore/model/PNJSONParser.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pindle::platform::Data bytes(data, data + size);
    auto body = pindle::platform::Json::parse(bytes);
    if (!body)
        return 0;
    pindle::platform::Dictionary headers{{"Video-Total-Count", pindle::platform::Value("12")}};
    const auto& parser = pindle::PNJSONParser::shared();
    if (auto list = parser.parseListResponce(*body, &headers)) {
        for (const auto& video : list->videos())
            if (!video)
                std::abort();
    }
    parser.parseSingleVideoResponse(*body, nullptr);
    return 0;
}
