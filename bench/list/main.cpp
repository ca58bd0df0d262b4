// pindle-list-bench: whole-process list figures for scripts/bench.
//
//   pindle-list-bench calls GATEWAY API_TOKEN CALLS PER_PAGE
//       starts a session at GATEWAY (http, host:port) and makes CALLS list calls of PER_PAGE
//       videos one after the other through the SDK, then exits; fails when a call fails or
//       comes back short.
//   pindle-list-bench parse FILE
//       reads FILE and parses it once with nlohmann::json (the peer's bare parse), printing the
//       parse's own seconds, so that a list's figure can be set against curl plus that parse.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/net/NetworkReachabilitySource.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"

namespace {

using namespace pindle;

// Runs `start`, handing it a function that ends the wait; gives false after a minute.
template <class Start>
bool await(Start start) {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;  // guarded by mutex
    bool ok = false;    // guarded by mutex
    start([&](bool success) {
        std::lock_guard lock(mutex);
        done = true;
        ok = success;
        changed.notify_all();
    });
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::minutes(1), [&] { return done; });
    return done && ok;
}

int calls(const std::string& gateway, const std::string& apiToken, long count, long perPage) {
    PNAPIConstants::setGateway(gateway, false);
    platform::NetworkReachabilitySource::setCurrent(
        std::make_shared<platform::ScriptedReachabilitySource>(
            platform::NetworkReachabilityFlag::reachable));
    const bool started = await([&](auto finish) {
        PNSession::current()->start(apiToken, "bench",
                                    [finish](PNSessionState state, const platform::Dictionary&,
                                             const std::optional<platform::Error>& error) {
                                        finish(!error && state == PNSessionState::started);
                                    });
    });
    if (!started) {
        std::fprintf(stderr, "pindle-list-bench: no session\n");
        return 1;
    }
    PNVideoFilter filter({}, {}, "", "");
    filter.page = 1;
    filter.limit = perPage;
    for (long call = 0; call < count; ++call) {
        const bool listed = await([&](auto finish) {
            PNVideoAPI::shared().videosByFilter(
                filter, "desc",
                [finish, perPage](const std::shared_ptr<PNVideosResponse>& response,
                                  const std::optional<platform::Error>& error) {
                    finish(!error && response &&
                           response->videos().size() == static_cast<std::size_t>(perPage));
                });
        });
        if (!listed) {
            std::fprintf(stderr, "pindle-list-bench: list call %ld failed\n", call);
            return 1;
        }
    }
    return 0;
}

int parse(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto started = std::chrono::steady_clock::now();
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (json.is_discarded()) {
        std::fprintf(stderr, "pindle-list-bench: %s is not JSON\n", path);
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "calls" && argc == 6)
        return calls(argv[2], argv[3], std::stol(argv[4]), std::stol(argv[5]));
    if (mode == "parse" && argc == 3)
        return parse(argv[2]);
    std::fprintf(stderr,
                 "usage: %s calls GATEWAY API_TOKEN CALLS PER_PAGE\n"
                 "       %s parse FILE\n",
                 argv[0], argv[0]);
    return 2;
}
