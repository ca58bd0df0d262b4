#include "examples/pindle-example/PlayCommand.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>

#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "examples/pindle-example/Interruption.hpp"
#include "examples/pindle-example/PlayWindow.hpp"
#include "examples/pindle-example/PlaybackCounter.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::example {

namespace {

namespace ui = platform::ui;
using Clock = std::chrono::steady_clock;

// Media seconds between two progress lines.
constexpr double progressStep = 0.5;
constexpr ui::Rect screen = ui::Rect::make(0, 0, 375, 667);
// How long a window with no --seconds stays up at most: a day.
constexpr double watchedLongest = 24 * 3600;

// Seconds on a monotonic clock.
double wallSeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Prints what the controller reports, and remembers what ends the command.
class EventPrinter : public PNPlayerViewControllerDelegate {
  public:
    explicit EventPrinter(JsonLines& out) : out_(out) {}

    // The controller's requested play state changed: playback counts only while it plays.
    void playStateChanged(PNPlayState state) {
        played_.setPlaying(state == PNPlayState::playing, wallSeconds());
    }

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
        auto shown = controller.currentPlayer();
        auto video = shown ? shown->video() : nullptr;
        played_.report(video.get(), time, wallSeconds());
        std::lock_guard lock(mutex_);
        if (time < lastProgress_ || time - lastProgress_ >= progressStep) {
            lastProgress_ = time;
            out_.print(
                {{"event", "progress"}, {"time", time}, {"duration", controller.duration()}});
        }
    }
    void pnPlayerViewControllerFailedToPlay(PNPlayerViewController&, int error) override {
        auto code = PNError::fromRawValue(error).value_or(PNError::unknown);
        out_.print({{"event", "error"}, {"code", error}, {"message", code.localizedDescription()}});
        error_ = static_cast<int>(code.code());
        failed_ = true;
    }
    void pnPlayerViewControllerDidPlayToEnd(PNPlayerViewController& controller) override {
        const auto index = controller.playlistIndex();
        out_.print({{"event", "end"}, {"index", index}});
        lastEnded_ = index;
        ++ends_;
    }

    bool ready() const { return ready_; }
    bool failed() const { return failed_; }
    PNError error() const { return PNError::fromRawValue(error_).value_or(PNError::unknown); }
    int ends() const { return ends_; }
    // The playlist index of the last video that ended; -1 before any.
    std::int64_t lastEnded() const { return lastEnded_; }
    double played() const { return played_.played(); }

  private:
    JsonLines& out_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> failed_{false};
    std::atomic<int> error_{0};
    std::atomic<int> ends_{0};
    std::atomic<std::int64_t> lastEnded_{-1};
    std::atomic<bool> lastBuffering_{false};
    // Playback at rate 1, summed over the videos played.
    PlaybackCounter played_;
    std::mutex mutex_;
    double lastProgress_ = -progressStep;  // guarded by mutex_
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
    controller->setMuted(line_.mute);
    const std::weak_ptr<PNPlayerViewController> weakController = controller;
    const auto playState = controller->observe(
        "playState", platform::KVOOption::newValue | platform::KVOOption::initial,
        platform::weakly(controller,
                         [events](PNPlayerViewController& observed, const platform::KVOChange&) {
                             events->playStateChanged(observed.playState());
                         }));
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    if (const platform::Status watching = onDesktop.watch(window); !watching.ok()) {
        outcome.error = watching.error();
        return outcome;
    }
    onDesktop.addSwipes(controller);

    std::int64_t videos = 1;
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
        videos = static_cast<std::int64_t>(found.value->videos().size());
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

    // Plays until --seconds of playback (media time played at rate 1, summed over the videos
    // played), the last video's end, or a failure; never longer than --seconds plus the reply
    // timeout of wall time, after which playback that fell short has stalled. In a window a
    // person watches: it plays until the window closes, or for --seconds when given; a single
    // video's end ends it too, and so does a playlist's when --seconds bounds the run (without
    // it, what is left on screen can still be swiped back to). SIGINT or SIGTERM ends it at
    // once.
    const auto start = Clock::now();
    const bool untilClosed = line_.window && !line_.secondsGiven;
    const bool endsWithLastVideo = !line_.window || line_.secondsGiven || !line_.playlist;
    const double bound = untilClosed ? watchedLongest : line_.seconds + line_.timeoutSeconds;
    const auto limit = std::chrono::duration<double>(bound);
    bool finished = false;
    platform::MainThread::runUntil(
        [&] {
            finished = onDesktop.closed() || events->failed() || Interruption::requested() ||
                       (endsWithLastVideo && events->lastEnded() >= videos - 1);
            if (finished)
                return true;
            if (untilClosed)
                return false;
            finished = events->played() >= line_.seconds;
            return finished || Clock::now() - start >= limit;
        },
        bound);
    controller->removeObservation(playState);
    controller->pause();
    waitForPause(*controller, line_.timeoutSeconds);

    outcome.fields["time"] = controller->currentTime();
    outcome.fields["played"] = events->played();
    outcome.fields["index"] = controller->playlistIndex();
    outcome.fields["ready"] = events->ready();
    outcome.fields["ends"] = events->ends();
    if (!finished && !untilClosed)
        outcome.fields["stalled"] = true;
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
    if (events->failed())
        outcome.error = events->error().toPlatformError();
    else if (onDesktop.closed())
        outcome.fields["closed"] = true;
    else if (!events->ready())
        outcome.error = failure("no video became ready to play");
    else if (!finished && !untilClosed)
        outcome.error = failure("playback stalled");
    return outcome;
}

}  // namespace pindle::example

extern "C" pindle::example::PlayCommand::Outcome pindleExamplePlay(
    const pindle::example::CommandLine& line, pindle::example::JsonLines& out,
    pindle::example::BlockingClient& client) {
    return pindle::example::PlayCommand(line, out, client).run();
}
