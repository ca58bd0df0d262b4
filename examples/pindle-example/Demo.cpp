#include "examples/pindle-example/Demo.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "examples/pindle-example/BlockingClient.hpp"
#include "examples/pindle-example/JsonLines.hpp"
#include "examples/pindle-example/PlayCommand.hpp"
#include "examples/pindle-example/SampleClip.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/net/NetworkReachabilitySource.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::example {

namespace {

using emulator::BackendEmulator;

constexpr const char* demoIdentity = "demo-user";
constexpr std::int64_t videosPerPage = 10;
constexpr std::int64_t downloadLength = 1024;
constexpr std::size_t signatureBytes = 16;
// Seconds of the clip the emulator serves, and of playback in the play step.
constexpr double playClipSeconds = 4;
constexpr double playSeconds = 1.5;
constexpr double uploadClipSeconds = 2;
constexpr std::chrono::seconds uploadTimeout{120};

// Puts the SDK's gateway back as it was when the demo began.
class GatewayRestorer {
  public:
    GatewayRestorer() : host_(PNAPIConstants::gatewayHost()), secure_(PNAPIConstants::isSecure()) {}
    ~GatewayRestorer() { PNAPIConstants::setGateway(host_, secure_); }
    GatewayRestorer(const GatewayRestorer&) = delete;
    GatewayRestorer& operator=(const GatewayRestorer&) = delete;

  private:
    std::string host_;
    bool secure_;
};

class DemoRun {
  public:
    explicit DemoRun(std::shared_ptr<JsonLines> out) : out_(std::move(out)) {}

    bool run() {
        // The play step runs the main loop on this thread, which must be the main thread
        // before the session's start sends anything to the main queue (else that binds the
        // queue to a thread of its own; the play step then says so and fails).
        platform::MainThread::adoptCurrentThread();
        if (!startEmulator())
            return false;
        bool ok = startSession() && listAndPage() && get() && download() && play() && remove() &&
                  upload();
        ok = stopSession() && ok;
        emulator_.stop();
        platform::NetworkReachabilitySource::setCurrent(formerReachability_);
        return ok;
    }

  private:
    // Prints the step's line; `fields` are added to it.
    bool report(const char* step, bool ok, Json fields = Json::object()) {
        Json line = {{"step", step}, {"ok", ok}};
        line.update(fields);
        out_->print(line);
        return ok;
    }

    bool fail(const char* step, const platform::Error& error) {
        return report(step, false, {{"error", JsonLines::error(error)}});
    }

    bool startEmulator() {
        std::string error;
        if (!emulator_.start(&error))
            return report("emulator", false, {{"error", error}});
        PNAPIConstants::setGateway("127.0.0.1:" + std::to_string(emulator_.port()), false);
        // Every video's renditions are one generated clip, so that the play step has a movie.
        const std::string clip = platform::AppContainer::temporaryDirectory() + "/demo-play.mp4";
        platform::FileManager::defaultManager()
            .createDirectory(platform::AppContainer::temporaryDirectory(), true)
            .ignoreError();
        if (platform::Status status = writeSampleClip(clip, playClipSeconds); !status.ok())
            return fail("emulator", status.error());
        std::ifstream in(clip, std::ios::binary);
        const std::string movie{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        emulator_.videos().setRenditions({{"720p", movie}, {"540p", movie}, {"360p", movie}});
        // The emulator is on this machine: within reach whatever the machine's network says.
        formerReachability_ = platform::NetworkReachabilitySource::current();
        platform::NetworkReachabilitySource::setCurrent(
            std::make_shared<platform::ScriptedReachabilitySource>(
                platform::NetworkReachabilityFlag::reachable));
        return report("emulator", true,
                      {{"url", emulator_.baseURL()},
                       {"api", PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::apiRoot()},
                       {"videos", emulator_.store().size()}});
    }

    bool startSession() {
        // Created before observing, so that the observer never creates the session itself.
        const auto& session = PNSession::current();
        stateChanges_ = platform::NotificationCenter::ScopedRegistration(
            platform::NotificationCenter::defaultCenter().addObserverForName(
                NotificationName::PNAccountStateChanged, nullptr, nullptr,
                platform::weakly(out_, [session](JsonLines& lines, const platform::Notification&) {
                    lines.print({{"event", NotificationName::PNAccountStateChanged},
                                 {"state", JsonLines::stateName(session->state())}});
                })));

        auto result = client_.startSession(BackendEmulator::defaultAPIToken, demoIdentity);
        if (!result.ok())
            return fail("session", *result.error);
        Json fields = {{"state", JsonLines::stateName(result.value.state)},
                       {"identity", session->identity()}};
        if (auto appID = session->appID())
            fields["appID"] = *appID;
        if (auto expiresAt = session->expiresAt())
            fields["expiresAt"] = JsonLines::date(*expiresAt);
        return report("session", true, fields);
    }

    BlockingClient::Result<std::shared_ptr<PNVideosResponse>> page(std::int64_t number) {
        PNVideoFilter filter;
        filter.page = number;
        filter.limit = videosPerPage;
        return client_.videosByFilter(filter, PNSortOrder::desc);
    }

    // Lists the first page, then pages on until every video the backend counts has been seen
    // once, and no more.
    bool listAndPage() {
        auto first = page(1);
        if (!first.ok())
            return fail("list", *first.error);
        totalCount_ = first.value->totalCount();
        if (!takePage("list", 1, *first.value))
            return false;

        const std::int64_t pages = (totalCount_ + videosPerPage - 1) / videosPerPage;
        for (std::int64_t number = 2; number <= pages; ++number) {
            auto next = page(number);
            if (!next.ok())
                return fail("page", *next.error);
            if (!takePage("page", number, *next.value))
                return false;
        }
        const bool complete = static_cast<std::int64_t>(seen_.size()) == totalCount_;
        return report("paging", complete,
                      {{"pages", pages}, {"seen", seen_.size()}, {"totalCount", totalCount_}});
    }

    bool takePage(const char* step, std::int64_t number, const PNVideosResponse& response) {
        Json videos = Json::array();
        std::int64_t repeated = 0;
        for (const PNVideoPtr& video : response.videos()) {
            videos.push_back({{"id", video->videoID()}, {"title", video->title()}});
            if (!seen_.insert(video->videoID()).second)
                ++repeated;
            order_.push_back(video);
        }
        const bool ok = !response.videos().empty() && repeated == 0;
        return report(step, ok,
                      {{"page", number},
                       {"count", response.videos().size()},
                       {"totalCount", response.totalCount()},
                       {"repeated", repeated},
                       {"videos", videos}});
    }

    bool get() {
        const std::string& id = order_.front()->videoID();
        auto result = client_.video(id);
        if (!result.ok())
            return fail("get", *result.error);
        video_ = result.value;
        return report("get", video_->videoID() == id, {{"video", JsonLines::video(*video_)}});
    }

    bool download() {
        auto url = video_->mp4URL(PNVideoResolution::r720p);
        if (!url)
            return fail("download", PNError(PNError::noPlayableURL).toPlatformError());
        auto result = client_.download(*url, {0, downloadLength});
        if (!result.ok())
            return fail("download", *result.error);
        const std::int64_t received = result.value.received;
        const std::int64_t expected = std::min(downloadLength, result.value.totalSize);
        return report("download", result.value.totalSize > 0 && received == expected,
                      {{"url", url->absoluteString()},
                       {"bytes", received},
                       {"totalSize", result.value.totalSize},
                       {"head", JsonLines::hexPrefix(result.value.head, signatureBytes)}});
    }

    // Plays the fetched video through the player controller for a moment, on the clip the
    // emulator serves as every video's rendition.
    bool play() {
        CommandLine line;
        line.command = "play";
        line.operands = {video_->videoID()};
        line.seconds = playSeconds;
        // The player's own event lines stay out of the demo's output; the step sums them up.
        std::ostringstream events;
        JsonLines quiet(events);
        auto outcome = PlayCommand(line, quiet, client_).run();
        quiet.close();
        if (outcome.error)
            return fail("play", *outcome.error);
        const std::string printed = events.str();
        outcome.fields["events"] = std::count(printed.begin(), printed.end(), '\n');
        const double played = outcome.fields.value("time", 0.0);
        return report("play", played > 0, outcome.fields);
    }

    bool remove() {
        const std::string id = order_.back()->videoID();
        auto deleted = client_.deleteVideo(id);
        if (!deleted.ok())
            return fail("delete", *deleted.error);
        auto remaining = client_.count({}, {});
        if (!remaining.ok())
            return fail("delete", *remaining.error);
        return report("delete", remaining.value == totalCount_ - 1,
                      {{"id", id}, {"before", totalCount_}, {"remaining", remaining.value}});
    }

    // Uploads a small generated clip and waits until the backend has it.
    bool upload() {
        const std::string clip = platform::AppContainer::temporaryDirectory() + "/demo-clip.mp4";
        platform::FileManager::defaultManager()
            .createDirectory(platform::AppContainer::temporaryDirectory(), true)
            .ignoreError();
        if (platform::Status status = writeSampleClip(clip, uploadClipSeconds); !status.ok())
            return fail("upload", status.error());

        struct Outcome {
            std::mutex mutex;
            std::condition_variable changed;
            std::set<std::string> uploaded;  // guarded by mutex
            std::set<std::string> failed;    // guarded by mutex
        };
        auto outcome = std::make_shared<Outcome>();
        auto observe = [outcome](const char* name, bool success) {
            return platform::NotificationCenter::ScopedRegistration(
                platform::NotificationCenter::defaultCenter().addObserverForName(
                    name, nullptr, nullptr,
                    [outcome, success](const platform::Notification& notification) {
                        auto id = notification.userInfo.find("videoID");
                        if (id == notification.userInfo.end() || !id->second.asString())
                            return;
                        {
                            std::lock_guard lock(outcome->mutex);
                            (success ? outcome->uploaded : outcome->failed)
                                .insert(*id->second.asString());
                        }
                        outcome->changed.notify_all();
                    }));
        };
        auto uploaded = observe(NotificationName::PNVideoIsUploaded, true);
        auto failed = observe(NotificationName::PNVideoUploadFailed, false);
        auto cancelled = observe(NotificationName::PNVideoUploadCanceled, false);

        std::optional<platform::Error> refusal;
        std::string id;
        PNUploads::shared().upload(
            platform::URL::fileURLWithPath(clip), platform::StringSet{"demo"}, std::nullopt,
            "Demo clip", [&](const PNVideoPtr& video, const std::optional<platform::Error>& error) {
                refusal = error;
                if (video)
                    id = video->videoID();
            });
        if (refusal)
            return fail("upload", *refusal);
        bool done = false;
        {
            std::unique_lock lock(outcome->mutex);
            done = outcome->changed.wait_for(lock, uploadTimeout, [&] {
                return outcome->uploaded.count(id) || outcome->failed.count(id);
            }) && outcome->uploaded.count(id);
        }
        if (!done)
            return fail("upload", PNError(PNError::unknown).toPlatformError());
        auto video = client_.video(id);
        if (!video.ok())
            return fail("upload", *video.error);
        const bool hasMedia = video.value->mp4URL(PNVideoResolution::r720p).has_value();
        return report("upload", hasMedia, {{"id", id}, {"video", JsonLines::video(*video.value)}});
    }

    bool stopSession() {
        const auto& session = PNSession::current();
        session->stop();
        stateChanges_.reset();
        return report("stop", session->state() == PNSessionState::stopped,
                      {{"state", JsonLines::stateName(session->state())}});
    }

    std::shared_ptr<JsonLines> out_;
    std::shared_ptr<platform::NetworkReachabilitySource> formerReachability_;
    BackendEmulator emulator_;
    BlockingClient client_;
    platform::NotificationCenter::ScopedRegistration stateChanges_;
    std::int64_t totalCount_ = 0;
    std::set<std::string> seen_;
    std::vector<PNVideoPtr> order_;  // every listed video, in listing order
    PNVideoPtr video_;
};

}  // namespace

namespace {

int runDemo(const std::shared_ptr<JsonLines>& lines) {
    GatewayRestorer gateway;
    bool ok = DemoRun(lines).run();
    lines->print({{"demo", ok ? "succeeded" : "failed"}, {"ok", ok}});
    // A reply that outlived its wait must not write to the caller's stream after we return.
    lines->close();
    return ok ? 0 : 1;
}

}  // namespace

int runDemo(std::ostream& out) {
    return runDemo(std::make_shared<JsonLines>(out));
}

int runDemo() {
    return runDemo(std::make_shared<JsonLines>());
}

}  // namespace pindle::example

extern "C" int pindleExampleDemo() {
    return pindle::example::runDemo();
}
