// One 256 KiB range of a resumable upload sent to the backend emulator's storage, through the
// URL session's synchronous load as the upload sends it, against a reused libcurl handle
// sending the same request: what the session adds to each range. The same range is sent every
// time, so the storage keeps nothing new.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string>

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

void BM_UploadRange_Ours(benchmark::State& state) {
    auto& session = storage();
    const auto url = platform::URL::fromString(session.sessionURL);
    for (auto _ : state) {
        platform::URLRequest request(url);
        request.setHTTPMethod("PUT");
        request.setValue(contentRange, "Content-Range");
        request.setValue(std::to_string(rangeLength), "Content-Length");
        request.setHTTPBody(session.range);
        auto loaded = platform::URLSession::shared()->loadSynchronously(std::move(request));
        if (loaded.error || !loaded.response)
            state.SkipWithError("the range was not answered");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(rangeLength));
}
BENCHMARK(BM_UploadRange_Ours)->UseRealTime();

void BM_UploadRange_PeerCurl(benchmark::State& state) {
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
    for (auto _ : state) {
        if (curl_easy_perform(curl) != CURLE_OK)
            state.SkipWithError("the range was not answered");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(rangeLength));
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}
BENCHMARK(BM_UploadRange_PeerCurl)->UseRealTime();

}  // namespace
