// Serving a fully cached media file to a player's byte-range read, against reading the same
// bytes with plain read(2): the cache path (lookup, file read in slices, hand-over on the
// request's queue) should keep at least half the bandwidth of the bare system call. The first
// read of a video also pays for making its request (its queue among them); later reads are
// listeners added to that request.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequest.hpp"

namespace {

namespace fs = std::filesystem;
using pindle::PNByteRange;

// A read that counts what it is handed and signals its completion.
class CountingRead : public pindle::PNVideoLoaderRequestListener {
  public:
    explicit CountingRead(std::int64_t length) : length_(length) {}
    std::string id() const override { return "bench"; }
    PNByteRange range() const override { return {0, length_}; }
    std::int64_t dataOffset() const override { return 0; }
    void size(std::int64_t) override {}
    void dataBlock(const pindle::platform::Data& data, std::int64_t) override {
        received_ += static_cast<std::int64_t>(data.size());
    }
    void completed(const std::optional<pindle::platform::Error>&) override { finish(); }
    void failed(const pindle::platform::Error&) override { finish(); }
    std::int64_t wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_; });
        return received_;
    }

  private:
    void finish() {
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    const std::int64_t length_;
    std::int64_t received_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;  // guarded by mutex_
};

struct CachedFile {
    fs::path folder;
    std::shared_ptr<pindle::PNPlayerCache> cache;
    pindle::PNVideoPtr video;
    std::string path;

    explicit CachedFile(std::int64_t size) {
        folder = fs::temp_directory_path() / ("pindle-cache-bench-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        cache = pindle::PNPlayerCache::make({folder.string(), {}, {}});
        cache->setCacheSize(size * 2);
        const auto url = *pindle::platform::URL::fromString("http://media.example/v/720p.mp4");
        pindle::platform::Data bytes(static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
        cache->putData(url, bytes);
        cache->recordSize(url, size);
        pindle::PNVideo::Fields fields;
        fields.videoID = "bench";
        fields.mediaMP4URL720p = url;
        fields.mediaMP4URL540p = url;
        fields.mediaMP4URL360p = url;
        video = pindle::PNVideo::make(std::move(fields));
        path = *cache->cacheFilePath(url);
    }
    ~CachedFile() { fs::remove_all(folder); }
};

void BM_ServeCachedFileToListener(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    CachedFile file(size);
    for (auto _ : state) {
        auto read = std::make_shared<CountingRead>(size);
        auto request = pindle::PNVideoLoaderRequest::make(file.video, {read}, file.cache);
        if (read->wait() != size)
            state.SkipWithError("short serve");
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_ServeCachedFileToListener)->Arg(1 << 20)->Arg(16 << 20)->UseRealTime();

// The player's later reads of a video whose request already exists: each read is a new
// listener of that request.
void BM_ServeCachedFileToAddedListener(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    CachedFile file(size);
    auto request = pindle::PNVideoLoaderRequest::make(file.video, {}, file.cache);
    for (auto _ : state) {
        auto read = std::make_shared<CountingRead>(size);
        request->addListener(read);
        if (read->wait() != size)
            state.SkipWithError("short serve");
        request->removeListener(read);
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_ServeCachedFileToAddedListener)->Arg(1 << 20)->Arg(16 << 20)->UseRealTime();

void BM_PlainRead(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    CachedFile file(size);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    for (auto _ : state) {
        const int fd = ::open(file.path.c_str(), O_RDONLY);
        std::int64_t total = 0;
        while (total < size) {
            const ssize_t got = ::read(fd, buffer.data() + total, buffer.size() - total);
            if (got <= 0)
                break;
            total += got;
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
        if (total != size)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_PlainRead)->Arg(1 << 20)->Arg(16 << 20)->UseRealTime();

}  // namespace
