#include "examples/pindle-example/Commands.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/capture/PCaptureSession.hpp"
#include "PindleCore/library/PNVideoImporter.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "examples/pindle-example/DeviceChoice.hpp"
#include "examples/pindle-example/Interruption.hpp"
#include "examples/pindle-example/RecordWindow.hpp"
#include "platform/capture/CaptureConnection.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/net/NetworkReachabilitySource.hpp"
#include "platform/net/reachability/ScriptedReachabilitySource.hpp"
#include "platform/photos/PhotoLibrary.hpp"

namespace pindle::example {

namespace {

// How often resume looks whether the launch's restart of unfinished uploads has run.
constexpr auto restartPoll = std::chrono::milliseconds(50);

// Enough of a media file to recognise its container.
constexpr std::size_t signatureBytes = 16;

std::chrono::milliseconds timeoutOf(const CommandLine& line) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(line.timeoutSeconds * 1000));
}

bool isLoopback(const std::string& gateway) {
    return gateway.starts_with("127.") || gateway.starts_with("localhost") ||
           gateway.starts_with("[::1]");
}

// An upload record as one JSON object.
Json recordJson(const PNUploadingState& record) {
    return {{"videoID", record.videoID()},
            {"title", record.title()},
            {"bytesUploaded", record.bytesUploaded()},
            {"totalBytes", record.totalBytesToUpload()},
            {"isRecordingComplete", record.isRecordingComplete()},
            {"isConverted", record.isConverted()},
            {"isSynced", record.isSynced()},
            {"isUploaded", record.isUploaded()},
            {"hasSession", record.urlToUpload().has_value()}};
}

// Every stored upload record; the plain lists need no token.
std::vector<PNUploadingStatePtr> allRecords() {
    auto records = PNUploadingStateManager::shared().recordered();
    auto unfinished = PNUploadingStateManager::shared().nonRecordered();
    records.insert(records.end(), unfinished.begin(), unfinished.end());
    return records;
}

// What every stored record says of its upload's progress, as one text that changes whenever
// one of them moves.
std::string progressOfAllRecords() {
    std::string text;
    for (const auto& record : allRecords()) {
        text += record->videoID() + ":" + std::to_string(record->bytesUploaded()) + ":" +
                std::to_string(record->resolutionsUploaded().size()) +
                (record->isConverted() ? "c" : "") + (record->isSynced() ? "s" : "") +
                (record->isUploaded() ? "u" : "") + ";";
    }
    return text;
}

// The record allRecords() would list first for `videoID`. Asked once a range while an upload
// runs, so the unfinished recordings are read only when the finished ones lack it.
PNUploadingStatePtr recordOf(const std::string& videoID) {
    const auto find = [&](std::vector<PNUploadingStatePtr> records) -> PNUploadingStatePtr {
        for (auto& record : records)
            if (record->videoID() == videoID)
                return std::move(record);
        return nullptr;
    };
    const auto& manager = PNUploadingStateManager::shared();
    if (auto record = find(manager.recordered()))
        return record;
    return find(manager.nonRecordered());
}

platform::Error cannotWrite(const std::string& path) {
    return platform::Error(platform::CocoaError::domain, platform::CocoaError::fileWriteUnknown,
                           {{platform::Error::localizedDescriptionKey, "cannot write " + path}});
}

bool isURL(const std::string& text) {
    return text.starts_with("http://") || text.starts_with("https://");
}

platform::Error failure(const std::string& text) {
    return platform::Error(PNError::platformErrorDomain, PNError::unknown,
                           {{platform::Error::localizedDescriptionKey, text}});
}

// Waits for `done` at most `seconds`; false when that passes, or the program is interrupted,
// first.
bool waitFor(platform::DispatchSemaphore& done, double seconds) {
    constexpr double interruptionCheck = 0.05;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Interruption::requested()) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        if (done.wait(platform::DispatchTime::after(std::min(left, interruptionCheck))))
            return true;
    }
    return false;
}

}  // namespace

Commands::Commands(CommandLine line, JsonLines& out, PlayRunner play)
    : line_(std::move(line)), out_(out), client_(timeoutOf(line_)), play_(play) {}

int Commands::run() {
    if (line_.command == "devices")
        return DeviceChoice::list(out_);
    // The commands that run the main loop (a player, a window) make this thread the main
    // thread before anything can send work to the main queue: the session's start does, and
    // would otherwise bind the main queue to a thread of its own.
    if ((line_.command == "play" || line_.window) && !platform::MainThread::adoptCurrentThread() &&
        !platform::MainThread::isMainThread())
        return printFailure(failure("the main queue runs on another thread"));
    if (line_.command == "record" && !line_.uploadRecording)
        return record();
    if (line_.gateway)
        PNAPIConstants::setGateway(*line_.gateway, !line_.local);
    // A backend on this machine is always within reach, whatever the machine's own network
    // says; the SDK waits for the network before it uploads.
    if (isLoopback(PNAPIConstants::gatewayHost())) {
        platform::NetworkReachabilitySource::setCurrent(
            std::make_shared<platform::ScriptedReachabilitySource>(
                platform::NetworkReachabilityFlag::reachable));
    } else if (line_.local)
        PNAPIConstants::setGateway(PNAPIConstants::gatewayHost(), false);

    auto started = line_.sessionToken ? client_.adoptSession(*line_.sessionToken)
                                      : client_.startSession(*line_.apiToken, *line_.identity);
    if (!started.ok()) {
        Json failure = summary(false);
        failure["stage"] = "session";
        failure["error"] = JsonLines::error(*started.error);
        out_.print(failure);
        return failed;
    }
    started_ = std::move(started.value);

    using Command = int (Commands::*)();
    static const std::map<std::string, Command> commands = {
        {"session", &Commands::session},
        {"get", &Commands::get},
        {"list", &Commands::list},
        {"by-tags", &Commands::byTags},
        {"by-identity", &Commands::byIdentity},
        {"by-ids", &Commands::byIds},
        {"count", &Commands::count},
        {"delete", &Commands::remove},
        {"sync", &Commands::sync},
        {"download", &Commands::download},
        {"upload", &Commands::upload},
        {"import", &Commands::importToLibrary},
        {"resume", &Commands::resume},
        {"uploads", &Commands::uploads},
        {"play", &Commands::play},
        {"record", &Commands::record},
    };
    auto command = commands.find(line_.command);
    if (command == commands.end())
        return printFailure(PNError(PNError::unknown).toPlatformError());
    return (this->*command->second)();
}

Json Commands::summary(bool ok) const {
    Json line = {{"command", line_.command}, {"ok", ok && !Interruption::requested()}};
    if (Interruption::requested()) {
        line["interrupted"] = Interruption::signalName();
        line["error"] = JsonLines::error(Interruption::error());
    }
    return line;
}

int Commands::printFailure(const platform::Error& error) {
    Json line = summary(false);
    // Interrupted, the failure is most likely the interruption's doing: summary() says so.
    if (!Interruption::requested())
        line["error"] = JsonLines::error(error);
    out_.print(line);
    return failed;
}

int Commands::session() {
    const auto& session = PNSession::current();
    Json line = summary(true);
    line["state"] = JsonLines::stateName(started_.state);
    line["gateway"] = PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::apiRoot();
    line["identity"] = session->identity();
    if (auto appID = session->appID())
        line["appID"] = *appID;
    if (auto expiresAt = session->expiresAt())
        line["expiresAt"] = JsonLines::date(*expiresAt);
    if (auto token = session->sessionToken())
        line["sessionToken"] = *token;
    out_.print(line);
    return succeeded;
}

int Commands::get() {
    auto result = client_.video(line_.operands[0]);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["video"] = JsonLines::video(*result.value);
    out_.print(line);
    return succeeded;
}

int Commands::printVideos(const BlockingClient::Result<std::shared_ptr<PNVideosResponse>>& result) {
    if (!result.ok())
        return printFailure(*result.error);
    out_.printVideos(result.value->videos());
    Json line = summary(true);
    line["count"] = result.value->videos().size();
    line["totalCount"] = result.value->totalCount();
    out_.print(line);
    return succeeded;
}

int Commands::list() {
    PNVideoFilter filter(line_.metadata, line_.tags, line_.title.value_or(""),
                         line_.owner.value_or(""));
    filter.page = line_.page;
    filter.limit = line_.perPage;
    return printVideos(client_.videosByFilter(filter, line_.sortOrder));
}

int Commands::byTags() {
    return printVideos(client_.videosByTags(line_.tags, line_.metadata, line_.page, line_.perPage,
                                            line_.sortOrder));
}

int Commands::byIdentity() {
    return printVideos(
        client_.videosByIdentity(line_.operands[0], line_.page, line_.perPage, line_.sortOrder));
}

int Commands::byIds() {
    return printVideos(client_.videosByIds(line_.operands));
}

int Commands::count() {
    auto result = client_.count(line_.tags, line_.metadata);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["count"] = result.value;
    out_.print(line);
    return succeeded;
}

int Commands::remove() {
    auto result = client_.deleteVideo(line_.operands[0]);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["id"] = line_.operands[0];
    out_.print(line);
    return succeeded;
}

int Commands::sync() {
    auto since = CommandLine::date(line_.operands[0]);
    if (!since)  // CommandLine::parse() refuses such a date; a hand-made line may not
        return printFailure(PNError(PNError::unknown).toPlatformError());
    auto result = client_.sync(*since, line_.tags, line_.metadata);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["since"] = JsonLines::date(*since);
    line["changes"] = JsonLines::value(result.value);
    out_.print(line);
    return succeeded;
}

int Commands::download() {
    const std::string& target = line_.operands[0];
    std::optional<platform::URL> url;
    if (isURL(target)) {
        url = platform::URL::fromString(target);
    } else {
        auto video = client_.video(target);
        if (!video.ok())
            return printFailure(*video.error);
        url = video.value->mp4URL(line_.resolution);
    }
    if (!url)
        return printFailure(PNError(PNError::noPlayableURL).toPlatformError());

    // The body goes straight to the file as it arrives, so memory stays bounded by one chunk
    // whatever the length asked for.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (line_.outputFile) {
        file.reset(std::fopen(line_.outputFile->c_str(), "wb"));
        if (!file)
            return printFailure(cannotWrite(*line_.outputFile));
    }
    bool writeFailed = false;  // only touched on the delegate queue, read after the completion
    BlockingClient::ChunkSink sink;
    if (file) {
        sink = [&file, &writeFailed](const platform::Data& chunk) {
            if (!writeFailed && !chunk.empty() &&
                std::fwrite(chunk.data(), 1, chunk.size(), file.get()) != chunk.size())
                writeFailed = true;
        };
    }
    auto result = client_.download(*url, {line_.offset, line_.length}, std::move(sink));
    if (!result.ok())
        return printFailure(*result.error);
    if (file && (writeFailed || std::fclose(file.release()) != 0))
        return printFailure(cannotWrite(*line_.outputFile));
    Json line = summary(true);
    line["url"] = url->absoluteString();
    line["offset"] = line_.offset;
    line["bytes"] = result.value.received;
    line["totalSize"] = result.value.totalSize;
    line["head"] = JsonLines::hexPrefix(result.value.head, signatureBytes);
    if (line_.outputFile)
        line["output"] = *line_.outputFile;
    out_.print(line);
    return succeeded;
}

int Commands::upload() {
    return uploadFile(line_.operands[0], "upload");
}

int Commands::importToLibrary() {
    const std::string path = line_.operands[0];
    const std::string source =
        path.starts_with("/") ? path : std::filesystem::absolute(path).string();
    // The photo library of this home; a first run asks for access, and the host's user
    // allows it (the scripted answer).
    auto& library = platform::PhotoLibrary::shared();
    library.setRoot(platform::AppContainer::home() + "/Device/PhotoLibrary");
    const auto before = library.assets(platform::PhotoAsset::MediaType::video).size();

    PNVideoImporter importer;
    auto done = std::make_shared<platform::DispatchSemaphore>(0);
    auto answer = std::make_shared<std::pair<bool, std::optional<platform::Error>>>();
    importer.putToCameraRoll(platform::URL::fileURLWithPath(source),
                             [done, answer](bool success, std::optional<platform::Error> error) {
                                 *answer = {success, std::move(error)};
                                 done->signal();
                             });
    if (!waitFor(*done, line_.timeoutSeconds))
        return printFailure(PNError(PNError::unknown).toPlatformError());
    if (!answer->first) {
        return printFailure(answer->second.value_or(platform::Error(
            platform::PhotoLibrary::errorDomain, platform::PhotoLibrary::accessDenied,
            {{platform::Error::localizedDescriptionKey, "the photo library refused the movie"}})));
    }
    const auto videos = library.assets(platform::PhotoAsset::MediaType::video);
    if (videos.size() <= before)
        return printFailure(PNError(PNError::unknown).toPlatformError());
    const auto& asset = videos.back();
    out_.print({{"command", "import"},
                {"libraryAsset", asset->localIdentifier()},
                {"referenceURL", asset->referenceURL().absoluteString()}});

    // The upload road takes its file over, so it gets a copy: the library keeps its own.
    const std::string copy = platform::AppContainer::temporaryDirectory() + "/" +
                             platform::UUID::random().uuidString() + ".mov";
    if (platform::Status failure =
            platform::FileManager::defaultManager().copyItem(asset->path(), copy);
        !failure.ok())
        return printFailure(failure.error());
    return uploadFile(copy, "import");
}

int Commands::uploadFile(const std::string& path, const char* command) {
    const platform::URL file = platform::URL::fileURLWithPath(
        path.starts_with("/") ? path : std::filesystem::absolute(path).string());
    const auto tags = line_.tags.empty() ? std::nullopt : std::optional(line_.tags);
    const auto metadata = line_.metadata.empty() ? std::nullopt : std::optional(line_.metadata);
    std::optional<platform::Error> refusal;
    std::string videoID;
    if (file.pathExtension() == "mov") {
        // A library movie takes the recording's road: the SDK converts it to MP4 itself.
        if (auto video = legacy::PUploadingService::getInstance().uploadVideoFile(
                file, tags, metadata, line_.title.value_or("")))
            videoID = video->videoID();
    } else {
        PNUploads::shared().upload(file, tags, metadata, line_.title.value_or(""),
                                   [&](const std::shared_ptr<PNVideo>& video,
                                       const std::optional<platform::Error>& error) {
                                       refusal = error;
                                       if (video)
                                           videoID = video->videoID();
                                   });
    }
    if (refusal)
        return printFailure(*refusal);
    if (videoID.empty())
        return printFailure(PNError(PNError::uploadFileNotFound).toPlatformError());
    out_.print({{"command", command}, {"videoID", videoID}, {"accepted", true}});
    return waitForUploads({videoID}, command) ? succeeded : failed;
}

int Commands::record() {
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(line_.outputFile.value_or("."));
    std::error_code folderError;
    fs::create_directories(folder, folderError);
    const auto capture = legacy::PCaptureSession::make();
    // Whether capture reached `state` within `seconds`; false as soon as the program is
    // interrupted.
    const auto reached = [&](int state, double seconds) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline && !Interruption::requested()) {
            capture->captureQueue()->sync([] {});
            if (capture->state() == state)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    if (const auto cameraFailure = DeviceChoice::prepareRecording(line_))
        return printFailure(failure(*cameraFailure));
    // A camera that fails while recording (unplugged), or a microphone whose sound server goes
    // away, stops capture; the files made so far are finished and kept, and the command says
    // what failed.
    std::mutex cameraMutex;
    std::optional<platform::Error> cameraError;  // guarded by cameraMutex
    auto cameraWatch = platform::NotificationCenter::defaultCenter().addObserverForName(
        platform::CaptureSession::runtimeErrorNotification, nullptr, nullptr,
        [&](const platform::Notification& note) {
            platform::Error error = failure("capture failed");
            if (const auto found = note.userInfo.find(platform::CaptureSession::errorKey);
                found != note.userInfo.end())
                if (const auto reported = found->second.asError())
                    error = *reported;
            std::lock_guard lock(cameraMutex);
            cameraError = error;
        });
    // Removed on every way out: the observer refers to this frame.
    struct RemovedOnExit {
        platform::NotificationCenter::RegistrationPtr registration;
        ~RemovedOnExit() { registration->remove(); }
    } cameraWatchRemoval{cameraWatch};
    const auto cameraFailed = [&] {
        std::lock_guard lock(cameraMutex);
        return cameraError;
    };
    capture->startCaptureWithCaptureSessionMode(legacy::PCaptureModeBackCamera);
    if (!reached(legacy::PCaptureSessionStateCapturing, line_.timeoutSeconds))
        return printFailure(failure("the camera did not start"));
    // The preview shows before recording begins, so that a missing desktop records nothing.
    std::optional<RecordWindow> preview;
    if (line_.window) {
        preview.emplace(out_);
        const auto orientation = static_cast<platform::CaptureConnection::VideoOrientation>(
            capture->getCurrentVideoOrientation());
        if (const platform::Status status = preview->show(capture->captureSession(), orientation);
            !status.ok()) {
            capture->stopCapture();
            capture->captureQueue()->sync([] {});
            return printFailure(status.error());
        }
    }
    const std::string stamp = std::to_string(
        static_cast<long long>(platform::Date::now().timeIntervalSince1970() * 1000));
    const std::vector<std::string> resolutions = {"720p", "540p", "360p"};
    capture->startRecordingWithFileNamePattern(
        (folder / ("recording-" + stamp + "-%@.mp4")).string(), resolutions);
    // Interrupted while it starts, the recording is stopped and kept as any other.
    if (!reached(legacy::PCaptureSessionStateRecording, line_.timeoutSeconds) &&
        !Interruption::requested())
        return printFailure(failure("the recording did not start"));
    const auto recordUntil =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(line_.recordSeconds);
    const auto recorded = [&] {
        return std::chrono::steady_clock::now() >= recordUntil || cameraFailed() ||
               Interruption::requested();
    };
    if (preview)
        preview->runUntil(recorded, line_.recordSeconds + line_.timeoutSeconds);
    else
        while (!recorded()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!cameraFailed()) {
        std::promise<void> stopped;
        capture->stopRecordingWithCompletionBlock([&] { stopped.set_value(); });
        if (stopped.get_future().wait_for(std::chrono::duration<double>(line_.timeoutSeconds)) !=
            std::future_status::ready)
            return printFailure(failure("the recording did not finish"));
        capture->stopCapture();
    } else {
        // A device's failure stops capture, which finishes the files as it stops; asking for
        // the recording's stop as well would race that finish.
        reached(legacy::PCaptureSessionStateIdle, line_.timeoutSeconds);
    }
    capture->captureQueue()->sync([] {});
    preview.reset();

    Json files = Json::array();
    for (const auto& resolution : resolutions)
        files.push_back((folder / ("recording-" + stamp + "-" + resolution + ".mp4")).string());
    for (const auto& file : files) out_.print({{"recorded", file}});
    cameraWatch->remove();
    if (const auto error = cameraFailed()) {
        // Stopping capture finishes the files on their writers' queues: wait until they play
        // (pumping the main queue when this thread runs it).
        const auto playable = [&] {
            for (const auto& file : files)
                if (!(platform::URLAsset::make(
                          platform::URL::fileURLWithPath(file.get<std::string>()))
                          ->duration()
                          .seconds() > 0))
                    return false;
            return true;
        };
        if (platform::MainThread::isMainThread()) {
            platform::MainThread::runUntil(playable, line_.timeoutSeconds);
        } else {
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::duration<double>(line_.timeoutSeconds);
            while (std::chrono::steady_clock::now() < deadline && !playable())
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Json line = summary(false);
        line["error"] = JsonLines::error(platform::Error(
            error->domain(), error->code(),
            {{platform::Error::localizedDescriptionKey,
              "a capture device failed while recording: " + error->localizedDescription()}}));
        line["files"] = files;
        out_.print(line);
        return failed;
    }
    if (!line_.uploadRecording || Interruption::requested()) {
        Json line = summary(true);
        line["files"] = files;
        out_.print(line);
        return Interruption::requested() ? failed : succeeded;
    }
    const std::string upload = files.front().get<std::string>();
    line_.operands = {upload};
    return this->upload();
}

int Commands::resume() {
    // The records the launch restarts: complete and not uploaded yet.
    std::set<std::string> unfinished;
    for (const auto& record : PNUploadingStateManager::shared().recordered())
        if (!record->isUploaded())
            unfinished.insert(record->videoID());
    // The session's start scheduled the restart; wait for it, so that what it tidies is tidied
    // before this process ends.
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<std::int64_t>(line_.timeoutSeconds * 1000));
    auto& service = legacy::PUploadingService::getInstance();
    while (service.restartCount() == 0 && std::chrono::steady_clock::now() < deadline &&
           !Interruption::requested())
        std::this_thread::sleep_for(restartPoll);
    // Another process sharing this home carries these; it reports their end, not this one.
    std::erase_if(unfinished,
                  [&](const std::string& id) { return service.carriedByAnotherProcess(id); });
    const bool ok = waitForUploads(unfinished, nullptr);
    Json line = summary(ok);
    line["restarted"] = unfinished.size();
    out_.print(line);
    return ok ? succeeded : failed;
}

int Commands::uploads() {
    const auto records = allRecords();
    for (const auto& record : records) out_.print({{"upload", recordJson(*record)}});
    Json line = summary(true);
    line["count"] = records.size();
    out_.print(line);
    return succeeded;
}

bool Commands::waitForUploads(std::set<std::string> videoIDs, const char* lastLineCommand) {
    struct Progress {
        std::mutex mutex;
        std::condition_variable changed;
        std::set<std::string> uploaded;                  // guarded by mutex
        std::map<std::string, platform::Error> failed;   // guarded by mutex
        std::set<std::string> cancelled;                 // guarded by mutex
        std::chrono::steady_clock::time_point lastNews;  // guarded by mutex
    };
    auto progress = std::make_shared<Progress>();
    progress->lastNews = std::chrono::steady_clock::now();
    auto& center = platform::NotificationCenter::defaultCenter();
    auto news = [progress](auto change, bool wake = true) {
        {
            std::lock_guard lock(progress->mutex);
            change(*progress);
            progress->lastNews = std::chrono::steady_clock::now();
        }
        if (wake)
            progress->changed.notify_all();
    };
    auto idOf = [](const platform::Notification& notification) -> std::string {
        auto id = notification.userInfo.find("videoID");
        return id != notification.userInfo.end() && id->second.asString() ? *id->second.asString()
                                                                          : std::string();
    };
    std::vector<platform::NotificationCenter::ScopedRegistration> registrations;
    registrations.emplace_back(center.addObserverForName(
        NotificationName::PNVideoUploadProgress, nullptr, nullptr,
        [this, news, videoIDs](const platform::Notification& notification) {
            auto entry = notification.userInfo.find(PNUploads::uploadUserInfoKey);
            auto upload = entry == notification.userInfo.end()
                              ? nullptr
                              : entry->second.asObjectOf<PNUpload>();
            if (!upload || !videoIDs.count(upload->videoID()))
                return;
            Json line = {{"videoID", upload->videoID()}, {"progress", upload->progress()}};
            if (auto record = recordOf(upload->videoID()))
                line["bytes"] = record->bytesUploaded();
            out_.print(line);
            // Progress only holds off the idle timeout: waking the wait for it would cost the
            // uploading thread a hand-off per range and change nothing the wait decides.
            news([](Progress&) {}, false);
        }));
    registrations.emplace_back(
        center.addObserverForName(NotificationName::PNVideoIsUploaded, nullptr, nullptr,
                                  [news, idOf](const platform::Notification& n) {
                                      news([&](Progress& p) { p.uploaded.insert(idOf(n)); });
                                  }));
    registrations.emplace_back(
        center.addObserverForName(NotificationName::PNVideoUploadCanceled, nullptr, nullptr,
                                  [news, idOf](const platform::Notification& n) {
                                      news([&](Progress& p) { p.cancelled.insert(idOf(n)); });
                                  }));
    registrations.emplace_back(center.addObserverForName(
        NotificationName::PNVideoUploadFailed, nullptr, nullptr,
        [news, idOf](const platform::Notification& n) {
            auto error = n.userInfo.find("error");
            platform::Error reason = PNError(PNError::unknown).toPlatformError();
            if (error != n.userInfo.end() && error->second.asError())
                reason = *error->second.asError();
            news([&](Progress& p) { p.failed.insert_or_assign(idOf(n), reason); });
        }));

    // An upload counts as done once the SDK reports it or its record says so; the wait ends
    // when nothing has moved for the timeout. Another process sharing this home moving its
    // uploads counts as a move: this one's may be waiting for its turn to send.
    const auto idle =
        std::chrono::milliseconds(static_cast<std::int64_t>(line_.timeoutSeconds * 1000));
    std::set<std::string> pending = videoIDs;
    std::set<std::string> done;
    std::string homeProgress = progressOfAllRecords();
    bool ok = true;
    while (!pending.empty()) {
        // The uploads go on in the SDK's records: `resume` takes them up in the next run.
        if (Interruption::requested()) {
            for (const auto& id : pending) {
                Json line = summary(false);
                line["videoID"] = id;
                out_.print(line);
            }
            return false;
        }
        if (std::string now = progressOfAllRecords(); now != homeProgress) {
            homeProgress = std::move(now);
            news([](Progress&) {}, false);
        }
        {
            std::unique_lock lock(progress->mutex);
            progress->changed.wait_for(lock, std::chrono::milliseconds(200));
            if (std::chrono::steady_clock::now() - progress->lastNews > idle) {
                lock.unlock();
                for (const auto& id : pending) {
                    Json line = summary(false);
                    line["videoID"] = id;
                    line["error"] = JsonLines::error(
                        failure("no progress for " + std::to_string(line_.timeoutSeconds) + " s"));
                    out_.print(line);
                }
                return false;
            }
        }
        std::map<std::string, PNUploadingStatePtr> records;
        for (const auto& id : pending) records[id] = recordOf(id);
        // Read after the records: an upload whose record went after its end was reported
        // counts as reported.
        std::set<std::string> uploadedNow;
        std::map<std::string, platform::Error> failedNow;
        std::set<std::string> cancelledNow;
        {
            std::lock_guard lock(progress->mutex);
            uploadedNow = progress->uploaded;
            failedNow = progress->failed;
            cancelledNow = progress->cancelled;
        }
        for (auto it = pending.begin(); it != pending.end();) {
            const std::string id = *it;
            const PNUploadingStatePtr& record = records[id];
            if (uploadedNow.count(id) || (record && record->isUploaded())) {
                auto video = client_.video(id);
                Json line = {
                    {"video", video.ok() ? JsonLines::video(*video.value) : Json(nullptr)}};
                if (lastLineCommand) {
                    line["command"] = lastLineCommand;
                    line["ok"] = video.ok();
                    if (!video.ok())
                        line["error"] = JsonLines::error(*video.error);
                }
                out_.print(line);
                ok = ok && video.ok();
            } else if (!record && !failedNow.count(id) && !lastLineCommand) {
                // Dropped by the SDK at start-up: nothing was left to send.
                out_.print({{"videoID", id}, {"removed", true}});
            } else if (!record || failedNow.count(id) || cancelledNow.count(id)) {
                // The upload this command started ended without reaching the backend.
                Json line = summary(false);
                line["videoID"] = id;
                if (failedNow.count(id))
                    line["error"] = JsonLines::error(failedNow.at(id));
                else if (cancelledNow.count(id))
                    line["error"] = JsonLines::error(failure("cancelled"));
                else
                    line["error"] = JsonLines::error(failure("removed"));
                out_.print(line);
                ok = false;
            } else {
                ++it;
                continue;
            }
            it = pending.erase(it);
        }
    }
    return ok;
}

int Commands::play() {
    if (!play_) {
        return printFailure(platform::Error(
            "pindle-example", 1,
            {{platform::Error::localizedDescriptionKey, "no player in this host"}}));
    }
    auto outcome = play_(line_, out_, client_);
    // What was played before a failure goes with it. Interrupted, the interruption is what
    // ended it, and summary() says so.
    Json line = summary(!outcome.error);
    if (outcome.error && !Interruption::requested())
        line["error"] = JsonLines::error(*outcome.error);
    line.update(outcome.fields);
    out_.print(line);
    return line["ok"] == true ? succeeded : failed;
}

}  // namespace pindle::example
