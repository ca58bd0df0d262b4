// One 256 KiB range of a resumable upload sent to the backend emulator's storage, through the
// URL session's synchronous load as the upload sends it, against a reused libcurl handle
// sending the same request: what the session adds to each range. The same range is sent every
// time, so the storage keeps nothing new. The AfterPause variants wait the upload's 0.1 s
// between ranges, untimed, as the upload does: each range then meets a connection, a server
// and caches that have been idle.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace {

using namespace pindle;

constexpr std::size_t rangeLength = 262'144;
const char* const contentRange = "bytes 0-262143/*";

struct StorageSession {
    emulator::BackendEmulator backend{[] {
        emulator::BackendEmulator::Options options;
        options.seed = false;
        return options;
    }()};
    std::string sessionURL;
    platform::Data range = platform::Data(rangeLength, 0x5a);

    StorageSession() {
        if (!backend.start())
            std::abort();
        platform::URLRequest start(
            platform::URL::fromString(backend.baseURL() + "/uploads/bench/720p.mp4"));
        start.setHTTPMethod("POST");
        start.setValue("start", "x-goog-resumable");
        auto loaded = platform::URLSession::shared()->loadSynchronously(start);
        auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(loaded.response);
        auto location = http ? http->valueForHTTPHeaderField("Location") : std::nullopt;
        if (!location)
            std::abort();
        sessionURL = *location;
    }
};

StorageSession& storage() {
    static auto* shared = new StorageSession();
    return *shared;
}

constexpr auto pauseBetweenRanges = std::chrono::milliseconds(100);
constexpr int rangesAfterPause = 20;

// Times `send` alone, after the pause when `pause` is set.
template <class Send>
void timeRanges(benchmark::State& state, bool pause, Send&& send) {
    for (auto _ : state) {
        if (pause)
            std::this_thread::sleep_for(pauseBetweenRanges);
        const auto start = std::chrono::steady_clock::now();
        if (!send())
            state.SkipWithError("the range was not answered");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(rangeLength));
}

void uploadRangeOurs(benchmark::State& state, bool pause) {
    auto& session = storage();
    const auto url = platform::URL::fromString(session.sessionURL);
    timeRanges(state, pause, [&] {
        platform::URLRequest request(url);
        request.setHTTPMethod("PUT");
        request.setValue(contentRange, "Content-Range");
        request.setValue(std::to_string(rangeLength), "Content-Length");
        request.setHTTPBody(session.range);
        auto loaded = platform::URLSession::shared()->loadSynchronously(std::move(request));
        return !loaded.error && loaded.response;
    });
}

void uploadRangePeer(benchmark::State& state, bool pause) {
    auto& session = storage();
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Range: bytes 0-262143/*");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, session.sessionURL.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, session.range.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(rangeLength));
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char*, size_t size, size_t count, void*) { return size * count; });
    timeRanges(state, pause, [&] { return curl_easy_perform(curl) == CURLE_OK; });
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

void BM_UploadRange_Ours(benchmark::State& state) {
    uploadRangeOurs(state, false);
}
BENCHMARK(BM_UploadRange_Ours)->UseManualTime();

void BM_UploadRange_PeerCurl(benchmark::State& state) {
    uploadRangePeer(state, false);
}
BENCHMARK(BM_UploadRange_PeerCurl)->UseManualTime();

void BM_UploadRangeAfterPause_Ours(benchmark::State& state) {
    uploadRangeOurs(state, true);
}
BENCHMARK(BM_UploadRangeAfterPause_Ours)->UseManualTime()->Iterations(rangesAfterPause);

void BM_UploadRangeAfterPause_PeerCurl(benchmark::State& state) {
    uploadRangePeer(state, true);
}
BENCHMARK(BM_UploadRangeAfterPause_PeerCurl)->UseManualTime()->Iterations(rangesAfterPause);

}  // namespace
