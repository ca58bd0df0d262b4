// One throughput sample from the range downloader, with the estimate's two-second window
// already holding `range(0)` samples, as it does during a fast download (a 16 KiB chunk each,
// thousands per second on a local network). The cost of a sample should not grow with the
// window.
#include <benchmark/benchmark.h>

#include "PindleCore/caches/PNThroughputManager.hpp"

namespace {

constexpr double chunkBits = 16 * 1024 * 8;

void BM_ThroughputSampleWithFullWindow(benchmark::State& state) {
    auto manager = pindle::PNThroughputManager::make();
    auto channel = manager->channel();
    for (std::int64_t i = 0; i < state.range(0); ++i) channel->put(chunkBits);
    for (auto _ : state) channel->put(chunkBits);
    benchmark::DoNotOptimize(manager->bandwidth());
}
BENCHMARK(BM_ThroughputSampleWithFullWindow)->Arg(1000)->Arg(10000);

}  // namespace
