#include "examples/pindle-example/PlayCommand.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>

#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "examples/pindle-example/PlayWindow.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::example {

namespace {

namespace ui = platform::ui;
using Clock = std::chrono::steady_clock;

// Media seconds between two progress lines.
constexpr double progressStep = 0.5;
constexpr ui::Rect screen = ui::Rect::make(0, 0, 375, 667);
// How long a window with no --seconds stays up at most: a day.
constexpr double kWatchedLongest = 24 * 3600;

// Prints what the controller reports, and remembers what ends the command.
class EventPrinter : public PNPlayerViewControllerDelegate {
  public:
    explicit EventPrinter(JsonLines& out) : out_(out) {}

    void pnPlayerViewControllerReadyToPlay(PNPlayerViewController& controller) override {
        auto shown = controller.currentPlayer();
        auto video = shown ? shown->video() : nullptr;
        out_.print({{"event", "ready"},
                    {"id", video ? video->videoID() : ""},
                    {"index", controller.playlistIndex()},
                    {"duration", controller.duration()}});
        ready_ = true;
    }
    void pnPlayerViewControllerBuffering(PNPlayerViewController&, bool buffering) override {
        if (buffering == lastBuffering_.exchange(buffering))
            return;
        out_.print({{"event", "buffering"}, {"buffering", buffering}});
    }
    void pnPlayerViewControllerCurrentTimeChanged(PNPlayerViewController& controller) override {
        const double time = controller.currentTime();
        std::lock_guard lock(mutex_);
        if (time < lastProgress_ || time - lastProgress_ >= progressStep) {
            lastProgress_ = time;
            out_.print(
                {{"event", "progress"}, {"time", time}, {"duration", controller.duration()}});
        }
        played_ = std::max(played_, time);
    }
    void pnPlayerViewControllerFailedToPlay(PNPlayerViewController&, int error) override {
        auto code = PNError::fromRawValue(error).value_or(PNError::unknown);
        out_.print({{"event", "error"}, {"code", error}, {"message", code.localizedDescription()}});
        failed_ = true;
    }
    void pnPlayerViewControllerDidPlayToEnd(PNPlayerViewController& controller) override {
        out_.print({{"event", "end"}, {"index", controller.playlistIndex()}});
        ++ends_;
    }

    bool ready() const { return ready_; }
    bool failed() const { return failed_; }
    int ends() const { return ends_; }

  private:
    JsonLines& out_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> failed_{false};
    std::atomic<int> ends_{0};
    std::atomic<bool> lastBuffering_{false};
    std::mutex mutex_;
    double lastProgress_ = -progressStep;  // guarded by mutex_
    double played_ = 0;                    // guarded by mutex_
};

// The controller's pause reaches the shown player on that view's own queue, where commands
// apply in call order: once a marker sent after it has run, the player is paused and its
// time holds. Then the main queue is drained of what the pause announced.
void waitForPause(PNPlayerViewController& controller, double timeoutSeconds) {
    if (auto shown = controller.currentPlayer()) {
        auto applied = std::make_shared<std::atomic<bool>>(false);
        shown->queue()->async([applied] { applied->store(true); });
        platform::MainThread::runUntil([&] { return applied->load(); }, timeoutSeconds);
    }
    platform::MainThread::drain();
}

platform::Error failure(const std::string& text) {
    return platform::Error(PNError::platformErrorDomain, PNError::unknown,
                           {{platform::Error::localizedDescriptionKey, text}});
}

}  // namespace

PlayCommand::PlayCommand(const CommandLine& line, JsonLines& out, BlockingClient& client)
    : line_(line), out_(out), client_(client) {}

PlayCommand::Outcome PlayCommand::run() {
    Outcome outcome;
    if (!platform::MainThread::adoptCurrentThread() && !platform::MainThread::isMainThread()) {
        outcome.error = failure("the main queue runs on another thread");
        return outcome;
    }
    PlayWindow onDesktop(line_.window, out_);
    auto window = ui::Window::make(screen);
    auto controller = std::make_shared<PNPlayerViewController>();
    auto events = std::make_shared<EventPrinter>(out_);
    controller->setDelegate(events);
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    if (auto error = onDesktop.watch(window)) {
        outcome.error = *error;
        return outcome;
    }
    onDesktop.addSwipes(controller);

    if (line_.playlist) {
        auto found =
            client_.videosByTags(line_.tags, line_.metadata, 1, line_.perPage, line_.sortOrder);
        if (!found.ok()) {
            outcome.error = *found.error;
            return outcome;
        }
        auto playlist = std::make_shared<PNPlaylist>();
        playlist->setVideos(found.value->videos());
        playlist->setTotalCount(static_cast<std::int64_t>(found.value->videos().size()));
        outcome.fields["videos"] = found.value->videos().size();
        if (found.value->videos().empty()) {
            outcome.error = PNError(PNError::videoNotFound).toPlatformError();
            return outcome;
        }
        controller->play(playlist, 0);
    } else {
        auto video = client_.video(line_.operands[0]);
        if (!video.ok()) {
            outcome.error = *video.error;
            return outcome;
        }
        outcome.fields["id"] = line_.operands[0];
        controller->play(video.value);
    }

    // Plays until --seconds of playback have passed since the first frame was ready, a
    // single video ends or fails; never longer than that plus the reply timeout. In a window
    // a person watches: it plays until the window closes, or for --seconds when given.
    const auto start = Clock::now();
    std::optional<Clock::time_point> readyAt;
    const bool untilClosed = line_.window && !line_.secondsGiven;
    const double bound = untilClosed ? kWatchedLongest : line_.seconds + line_.timeoutSeconds;
    const auto limit = std::chrono::duration<double>(bound);
    platform::MainThread::runUntil(
        [&] {
            if (events->ready() && !readyAt)
                readyAt = Clock::now();
            if (onDesktop.closed() || events->failed())
                return true;
            if (untilClosed)
                return false;
            if (!line_.window && !line_.playlist && events->ends() > 0)
                return true;
            if (readyAt &&
                std::chrono::duration<double>(Clock::now() - *readyAt).count() >= line_.seconds)
                return true;
            return Clock::now() - start >= limit;
        },
        bound);
    controller->pause();
    waitForPause(*controller, line_.timeoutSeconds);

    outcome.fields["time"] = controller->currentTime();
    outcome.fields["index"] = controller->playlistIndex();
    outcome.fields["ready"] = events->ready();
    outcome.fields["ends"] = events->ends();
    if (line_.snapshotFile) {
        // The picture is the shown player's frame at its own current time, which can be a
        // frame past the controller's last periodic report: that time goes with the file.
        // Paused, the time holds: the view lets no stall's resume or loop restart past a pause.
        auto shown = controller->currentPlayer();
        const double pictureTime = shown ? shown->currentTime() : controller->currentTime();
        auto image = window->snapshotImage(1.0);
        auto png = image ? image->pngData() : std::nullopt;
        std::ofstream file(*line_.snapshotFile, std::ios::binary | std::ios::trunc);
        if (png)
            file.write(reinterpret_cast<const char*>(png->data()),
                       static_cast<std::streamsize>(png->size()));
        file.close();
        if (!png || !file) {
            outcome.error = failure("cannot write " + *line_.snapshotFile);
            return outcome;
        }
        out_.print({{"event", "snapshot"}, {"file", *line_.snapshotFile}, {"time", pictureTime}});
    }
    if (onDesktop.closed())
        outcome.fields["closed"] = true;
    else if (!events->ready())
        outcome.error = events->failed() ? PNError(PNError::videoUnavailable).toPlatformError()
                                         : failure("no video became ready to play");
    return outcome;
}

}  // namespace pindle::example

extern "C" pindle::example::PlayCommand::Outcome pindleExamplePlay(
    const pindle::example::CommandLine& line, pindle::example::JsonLines& out,
    pindle::example::BlockingClient& client) {
    return pindle::example::PlayCommand(line, out, client).run();
}
