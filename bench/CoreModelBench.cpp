// The hot paths of the core model: mapping a page of backend JSON to records, building a
// list query, feeding the throughput estimate one chunk at a time, and storing records in the
// video cache once it holds a long list.
#include <benchmark/benchmark.h>

#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/caches/PNVideoCache.hpp"
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

// The video cache after a list of range(0) records: one record stored on its own (a fetch's
// answer, a refetch after a notification), and a page of 100 records stored together.
pindle::PNVideoCache::Map cachedList(int count) {
    pindle::PNVideoCache::Map map;
    for (int i = 0; i < count; ++i) {
        pindle::PNVideo::Fields fields;
        fields.videoID = "listed-" + std::to_string(i) + "-0123456789abcdef0123456789";
        std::string id = fields.videoID;
        map.emplace(std::move(id), pindle::PNVideo::make(std::move(fields)));
    }
    return map;
}

void BM_VideoCache_StoreOneAfterAList(benchmark::State& state) {
    auto& cache = pindle::PNVideoCache::shared();
    cache.setCache(cachedList(static_cast<int>(state.range(0))));
    pindle::PNVideo::Fields fields;
    fields.videoID = "fetched";
    const auto video = pindle::PNVideo::make(std::move(fields));
    for (auto _ : state) cache.putVideoToCache(video);
    cache.didReceiveMemoryWarning();
}
BENCHMARK(BM_VideoCache_StoreOneAfterAList)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_VideoCache_StorePageAfterAList(benchmark::State& state) {
    auto& cache = pindle::PNVideoCache::shared();
    cache.setCache(cachedList(static_cast<int>(state.range(0))));
    std::vector<std::shared_ptr<pindle::PNVideo>> page;
    for (int i = 0; i < 100; ++i) {
        pindle::PNVideo::Fields fields;
        fields.videoID = "page-" + std::to_string(i);
        page.push_back(pindle::PNVideo::make(std::move(fields)));
    }
    for (auto _ : state) cache.putVideosToCache(page);
    cache.didReceiveMemoryWarning();
}
BENCHMARK(BM_VideoCache_StorePageAfterAList)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
