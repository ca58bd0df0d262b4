// The hot paths of the core model: mapping a page of backend JSON to records, building a
// list query, and feeding the throughput estimate one chunk at a time.
#include <benchmark/benchmark.h>

#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/model/PNJSONParser.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/Json.hpp"

namespace {

std::string backendPage(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ",";
        text +=
            R"({"id":"video-)" + std::to_string(i) +
            R"(","title":"A title","state":"processed","height":1280,"width":720,)"
            R"("lat":52.5,"lng":13.4,"tags":["a","b","c"],"metadata":{"k":"v","n":"1"},)"
            R"("thumbUrl":"https://cdn.example/t.png","createdAt":"2024-03-01T09:00:00.000Z",)"
            R"("shotOn":"2024-03-01T08:59:00.000Z","mp4Url":{"720p":"https://cdn.example/720p.mp4",)"
            R"("480p":"https://cdn.example/480p.mp4","360p":"https://cdn.example/360p.mp4"}})";
    }
    return text + "]";
}

// A page of 50 records, as the legacy playlist asks for, from JSON text to records.
void BM_ParseVideoPage(benchmark::State& state) {
    const std::string text = backendPage(static_cast<int>(state.range(0)));
    const pindle::platform::Dictionary headers{{"video-total-count", "1000"}};
    for (auto _ : state) {
        auto json = pindle::platform::Json::parse(text);
        auto response = pindle::PNJSONParser::shared().parseListResponce(*json, &headers);
        benchmark::DoNotOptimize(response);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseVideoPage)->Arg(10)->Arg(50);

void BM_ListQueryString(benchmark::State& state) {
    const pindle::platform::Dictionary parameters{
        {"limit", 50},
        {"offset", 100},
        {"sortOrder", "desc"},
        {"title", "a title with spaces & symbols"},
        {"tags", pindle::PNVideoAPI::encodeParameter(pindle::platform::StringSet{"a", "b"})},
        {"metadata", pindle::PNVideoAPI::encodeParameter(
                         pindle::platform::Value(pindle::platform::StringDictionary{{"k", "v"}}))}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(pindle::PNRequester::instance().string(parameters));
    }
}
BENCHMARK(BM_ListQueryString);

// One sample per received chunk: the per-chunk cost the range downloader adds, with chunks
// arriving every millisecond (about 130 Mbit/s), so the two-second window holds 2000 samples.
void BM_ThroughputSample(benchmark::State& state) {
    auto clock = std::make_shared<pindle::platform::VirtualClock>();
    pindle::platform::Clock::setCurrent(clock);
    auto manager = pindle::PNThroughputManager::make();
    auto channel = manager->channel();
    for (auto _ : state) {
        clock->advance(0.001);
        channel->put(16384 * 8.0);
    }
    pindle::platform::Clock::setCurrent(nullptr);
}
BENCHMARK(BM_ThroughputSample);

}  // namespace
