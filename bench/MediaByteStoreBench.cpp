// The player's byte store taking a download in order, in the chunks the network delivers: the
// cost per byte must not grow with the file (the time per iteration scales with the size).
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/media/MediaByteStore.hpp"

namespace {

void BM_MediaByteStoreInOrderDownload(benchmark::State& state) {
    const std::int64_t size = state.range(0) * 1024 * 1024;
    constexpr std::int64_t chunk = 16 * 1024;
    const std::vector<std::uint8_t> bytes(chunk, 0x5a);
    for (auto _ : state) {
        pindle::platform::MediaByteStore store;
        store.setContentLength(size);
        for (std::int64_t offset = 0; offset < size; offset += chunk)
            store.write(offset, bytes.data(), chunk);
        benchmark::DoNotOptimize(store.bytesStored());
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_MediaByteStoreInOrderDownload)->Arg(5)->Arg(40)->Unit(benchmark::kMillisecond);

}  // namespace
