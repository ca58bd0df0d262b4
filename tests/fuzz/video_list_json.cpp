// The backend's JSON list of videos, as the requester hands it to the list reader: the raw body
// in pieces (their size taken from the input's length) and the response's header fields. The
// reader maps each element from the JSON reader's events, never building its value: its records
// must be those of the parsed body's value tree mapped whole, and a body that is not JSON no list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "PindleCore/model/PNJSONParser.hpp"
#include "PindleCore/model/PNVideoListReader.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t pieceSize = size % 61 + 1;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    pindle::platform::Dictionary headers{{"Video-Total-Count", pindle::platform::Value("12")}};
    const auto& parser = pindle::PNJSONParser::shared();

    pindle::PNVideoListReader reader(parser, &headers);
    for (std::size_t at = 0; at < text.size(); at += pieceSize)
        reader.append(text.substr(at, pieceSize));
    const auto streamed = reader.finish();

    const auto body = pindle::platform::Json::parse(text);
    if (streamed.has_value() != body.has_value())
        std::abort();
    if (!body)
        return 0;
    const auto list = parser.parseListResponce(*body, &headers);
    if ((*streamed == nullptr) != (list == nullptr))
        std::abort();
    if (list) {
        const auto& videos = list->videos();
        if (videos.size() != (*streamed)->videos().size() ||
            list->totalCount() != (*streamed)->totalCount())
            std::abort();
        for (std::size_t i = 0; i < videos.size(); ++i) {
            if (!videos[i] || videos[i]->encode() != (*streamed)->videos()[i]->encode())
                std::abort();
        }
    }
    parser.parseSingleVideoResponse(*body, nullptr);
    return 0;
}
