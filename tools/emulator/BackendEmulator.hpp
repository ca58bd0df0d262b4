#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/emulator/HttpServer.hpp"
#include "tools/emulator/NotificationChannel.hpp"
#include "tools/emulator/SessionRegistry.hpp"
#include "tools/emulator/SessionsResource.hpp"
#include "tools/emulator/StorageResource.hpp"
#include "tools/emulator/VideoStore.hpp"
#include "tools/emulator/VideosResource.hpp"

namespace pindle::emulator {

// A local stand-in for the hosted video backend: the REST resources "sessions" and
// "videos" under "/v1", the media and thumbnails of its videos under "/media/", an
// in-memory video store (optionally kept in a file) and, for tests, the scripting, fault
// and request-log facilities of its HttpServer. Tests and the example host start it
// in-process on a free port; the pindle-backend-emulator program runs it standalone.
// Thread-safety: every operation is safe from any thread. Requests are served on the
// server's own I/O threads; stop() (and destruction) joins them.
class BackendEmulator {
  public:
    static constexpr const char* apiRoot = "/v1";
    static constexpr const char* defaultAppID = "pindle-emulator-app";
    static constexpr const char* defaultAPIToken = "pindle-emulator-token";
    static constexpr std::chrono::seconds defaultSessionLifetime{24 * 60 * 60};

    struct Options {
        std::uint16_t port = 0;  // 0: a free port
        bool seed = true;        // start an empty store with the sample videos
        std::size_t seedCount = 25;
        std::optional<std::filesystem::path> storeFile;
        std::vector<SessionRegistry::Application> applications = {{defaultAppID, defaultAPIToken}};
        std::chrono::seconds sessionLifetime = defaultSessionLifetime;
        // Milliseconds since 1970 for every stamp the backend makes; the system clock when
        // empty. Tests pass a clock they move themselves.
        VideoStore::Clock clock;
    };

    BackendEmulator();
    explicit BackendEmulator(Options options);
    ~BackendEmulator();
    BackendEmulator(const BackendEmulator&) = delete;
    BackendEmulator& operator=(const BackendEmulator&) = delete;

    // Opens the store file (when given), seeds an empty store (when asked) and starts
    // serving. The store is opened and seeded on the first start only; a later start
    // serves what the store holds then. Returns false, with the reason in error, when the store
    // file cannot be read or the port cannot be bound.
    bool start(std::string* error = nullptr);
    void stop();

    std::uint16_t port() const { return server_.port(); }
    // "http://127.0.0.1:<port>"
    std::string baseURL() const { return server_.baseURL(); }
    // "http://127.0.0.1:<port>/v1", the API root the SDK is pointed at.
    std::string apiURL() const { return baseURL() + apiRoot; }
    // "127.0.0.1:<port>/v1": the API root as host and version path without the protocol,
    // the form in which the SDK keeps it.
    std::string apiHostPath() const { return "127.0.0.1:" + std::to_string(port()) + apiRoot; }

    HttpServer& server() { return server_; }
    VideoStore& store() { return store_; }
    // The live notification channel at NotificationChannel::pathPrefix.
    NotificationChannel& notifications() { return notifications_; }
    SessionRegistry& sessions() { return sessions_; }
    // The videos resource, whose renditions can be real movies (setRenditions).
    VideosResource& videos() { return videosResource_; }
    // The storage service that receives uploaded media.
    StorageResource& storage() { return storage_; }

    // A session token for identity with the first application, without a request: for
    // tests that need an authorized client quickly.
    // REQUIRES: at least one application is configured.
    std::string openSession(const std::string& identity);

  private:
    Options options_;
    VideoStore store_;
    SessionRegistry sessions_;
    SessionsResource sessionsResource_;
    VideosResource videosResource_;
    StorageResource storage_;
    NotificationChannel notifications_;
    HttpServer server_;         // last, so it stops before the parts its handlers use go away
    bool storeOpened_ = false;  // guarded by startMutex_
    std::mutex startMutex_;
};

}  // namespace pindle::emulator
