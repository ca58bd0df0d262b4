// Mapping one list reply of 1,000 and 10,000 videos to records, against a bare parse of the
// same text: the mapping (the reply's text read to records, as the SDK reads a list) should
// cost at most 1.3 times the parse. The same through a value tree, and its two halves, show
// where the time goes.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "PindleCore/model/PNJSONParser.hpp"
#include "PindleCore/model/PNVideoListReader.hpp"
#include "platform/foundation/Json.hpp"

namespace {

std::string listReply(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ",";
        const std::string minute = std::to_string(10 + i % 50);
        text += R"({"id":"video-)" + std::to_string(i) +
                R"(","title":"A title","state":"processed","height":1280,"width":720,)"
                R"("lat":52.5,"lng":13.4,"tags":["a","b","c"],"metadata":{"k":"v","n":"1"},)"
                R"("thumbUrl":"https://cdn.example/t.png","createdAt":"2024-03-01T09:)" +
                minute + R"(:00.000Z","shotOn":"2024-03-01T08:)" + minute +
                R"(:00.000Z","mp4Url":{"720p":"https://cdn.example/720p.mp4",)"
                R"("480p":"https://cdn.example/480p.mp4","360p":"https://cdn.example/360p.mp4"}})";
    }
    return text + "]";
}

// The records of a reply as the SDK reads a list: the text in pieces of the network's size,
// each video object mapped from the reader's events.
std::shared_ptr<pindle::PNVideosResponse> readList(const std::string& text,
                                                   const pindle::platform::Dictionary& headers) {
    constexpr std::size_t pieceBytes = 128 * 1024;
    pindle::PNVideoListReader reader(pindle::PNJSONParser::shared(), &headers);
    for (std::size_t at = 0; at < text.size(); at += pieceBytes)
        reader.append(std::string_view(text).substr(at, pieceBytes));
    return reader.finish().value_or(nullptr);
}

// A figure for a mapping that drops records would be worthless: check it keeps every one.
bool mapsEveryVideo(const std::shared_ptr<pindle::PNVideosResponse>& response, int count) {
    return response && response->videos().size() == static_cast<std::size_t>(count) &&
           response->videos().back()->mediaMP4URL360p().has_value();
}

void BM_JsonMapping_Ours(benchmark::State& state) {
    const std::string text = listReply(static_cast<int>(state.range(0)));
    const pindle::platform::Dictionary headers{{"video-total-count", "10000"}};
    if (!mapsEveryVideo(readList(text, headers), static_cast<int>(state.range(0))))
        state.SkipWithError("the mapping dropped videos");
    for (auto _ : state) benchmark::DoNotOptimize(readList(text, headers));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// The same records through the whole reply's value tree.
void BM_JsonMapping_OursValueTree(benchmark::State& state) {
    const std::string text = listReply(static_cast<int>(state.range(0)));
    const pindle::platform::Dictionary headers{{"video-total-count", "10000"}};
    const auto mapped = [&] {
        auto json = pindle::platform::Json::parse(text);
        return pindle::PNJSONParser::shared().parseListResponce(*json, &headers);
    };
    if (!mapsEveryVideo(mapped(), static_cast<int>(state.range(0))))
        state.SkipWithError("the mapping dropped videos");
    for (auto _ : state) benchmark::DoNotOptimize(mapped());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Our parse alone, to tell the parse from the mapping.
void BM_JsonMapping_OursParseOnly(benchmark::State& state) {
    const std::string text = listReply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto json = pindle::platform::Json::parse(text);
        benchmark::DoNotOptimize(json);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The mapping of a parsed reply alone.
void BM_JsonMapping_OursMapOnly(benchmark::State& state) {
    const std::string text = listReply(static_cast<int>(state.range(0)));
    const pindle::platform::Dictionary headers{{"video-total-count", "10000"}};
    const auto json = pindle::platform::Json::parse(text);
    for (auto _ : state) {
        auto response = pindle::PNJSONParser::shared().parseListResponce(*json, &headers);
        benchmark::DoNotOptimize(response);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_JsonMapping_PeerBareParse(benchmark::State& state) {
    const std::string text = listReply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto json = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(json);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// Registered alternately so that ours and the peer run interleaved on a loaded machine.
BENCHMARK(BM_JsonMapping_Ours)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_PeerBareParse)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_Ours)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_PeerBareParse)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_OursValueTree)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_OursParseOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonMapping_OursMapOnly)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
