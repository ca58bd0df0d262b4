#include "tools/emulator/BackendEmulator.hpp"

#include "tools/emulator/BackendDate.hpp"
#include "tools/emulator/SampleVideos.hpp"
#include "tools/emulator/UpgradeRequest.hpp"

namespace pindle::emulator {

namespace {

// The upload description's own file: the recording sent whole, not one rendition.
bool isWholeSource(const std::string& file) {
    return file == "imported" || file == "source";
}

}  // namespace

BackendEmulator::BackendEmulator() : BackendEmulator(Options{}) {}

BackendEmulator::BackendEmulator(Options options)
    : options_(std::move(options)),
      store_(options_.clock ? options_.clock : VideoStore::Clock(BackendDate::nowMillis)),
      sessions_([this] { return store_.now(); }, options_.sessionLifetime),
      sessionsResource_(sessions_),
      videosResource_(store_, sessions_, [this] { return server_.baseURL(); }),
      storage_([this] { return server_.baseURL(); }, options_.clock) {
    for (const auto& application : options_.applications) {
        sessions_.addApplication(application);
    }
    sessionsResource_.addRoutes(server_.router(), apiRoot);
    videosResource_.addRoutes(server_.router(), apiRoot);
    storage_.addRoutes(server_.router());
    server_.setUpgradeHandler(
        [this](UpgradeRequest& upgrade) { return notifications_.accept(upgrade); });
    // Changes made through the REST resource reach every application's live channel.
    videosResource_.setEventSink([this](const nlohmann::json& event) {
        for (const auto& application : sessions_.applications()) {
            notifications_.broadcast(application.id, event);
        }
    });
    // What clients upload becomes the video's media: the file sent whole for the backend to
    // convert stands for its 720p rendition.
    storage_.setCompletionHandler([this](const std::string& name) {
        const auto slash = name.find('/');
        const std::string id = name.substr(0, slash);
        std::string file = name.substr(slash + 1);
        file = file.substr(0, file.rfind('.'));
        videosResource_.renditionUploaded(id, isWholeSource(file) ? std::string("720p") : file);
    });
    videosResource_.setUploadedMedia(
        [this](const std::string& id, const std::string& resolution) -> std::optional<std::string> {
            std::vector<std::string> files = {resolution};
            if (resolution == "720p")
                files.insert(files.end(), {"imported", "source"});
            for (const auto& file : files) {
                const std::string name = id + "/" + file + ".mp4";
                if (storage_.isComplete(name))
                    return storage_.object(name);
            }
            return std::nullopt;
        });
    server_.media().addProvider(
        [this](const std::string& path) { return videosResource_.media(path); });
}

BackendEmulator::~BackendEmulator() {
    stop();
}

bool BackendEmulator::start(std::string* error) {
    std::scoped_lock lock(startMutex_);
    if (!storeOpened_) {
        if (options_.storeFile && !store_.open(*options_.storeFile, error)) {
            return false;
        }
        if (options_.seed && store_.size() == 0) {
            for (auto& video : SampleVideos::make(options_.seedCount)) {
                store_.put(std::move(video));
            }
        }
        storeOpened_ = true;
    }
    return server_.start(options_.port, error);
}

void BackendEmulator::stop() {
    server_.stop();
}

std::string BackendEmulator::openSession(const std::string& identity) {
    auto applications = sessions_.applications();
    auto session = sessions_.open(applications.at(0).apiToken, identity);
    return session ? session->token : std::string();
}

}  // namespace pindle::emulator
