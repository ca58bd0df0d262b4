// The legacy capture session recording the desktop's microphone: a private sound server plays
// a tone into its null sink, whose monitor is the default source; the recording's audio track
// carries that tone at its frequency from its very start.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>

#include "PindleCore/capture/PCaptureSession.hpp"
#include "platform/app/Application.hpp"
#include "platform/audio/PulseMicrophone.hpp"
#include "platform/capture/CaptureAudioDataOutput.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "tests/PindleCore/support/AudioLevel.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/PulseAudioServer.hpp"
#include "tests/support/TonePlayback.hpp"
#include "tests/support/VirtualTimeTest.hpp"

namespace pindle::legacy {
namespace {

using pindle::testing::PulseAudioServer;
using pindle::testing::TonePlayback;
using platform::testing::eventually;

constexpr double kTone = 660;
// The recording runs until the microphone has handed the session this much sound. A fixed
// stretch of wall time would not do: on a busy machine the capture queue runs seconds behind
// the microphone, and what it has not taken when the stop comes is not in the file.
constexpr std::size_t kRecordedFrames = platform::PulseMicrophone::sampleRate * 3 / 2;
// How long that sound may take to come, and the stop to wait for the capture queue's backlog
// (every late picture is encoded first).
constexpr double kPatience = 60;

// Counts the sound a second output of the session receives. The session hands each buffer
// to its outputs in the order they were added, so once this one has a buffer, the recorder's
// capture queue has it too, ahead of anything queued later.
struct SoundCounter : platform::CaptureOutputSampleBufferDelegate {
    void captureOutput(platform::CaptureOutput&, const platform::SampleBufferPtr& sample,
                       platform::CaptureConnection&) override {
        frames += sample->numSamples();
    }
    std::atomic<std::size_t> frames{0};
};

TEST(PCaptureSessionMicrophoneTest, TheRecordingCarriesTheMicrophonesToneFromItsStart) {
    std::string skip, failure;
    auto server = PulseAudioServer::start(&skip, &failure);
    if (!server && !skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(server) << failure;
    auto tone = TonePlayback::start(server->address(), kTone, &failure);
    ASSERT_TRUE(tone) << failure;
    ASSERT_TRUE(tone->waitUntilHeard(*server, &failure)) << failure;
    auto& hardware = platform::CaptureHardware::shared();
    hardware.reset();
    std::string why;
    ASSERT_TRUE(hardware.useMicrophoneServer(server->address(), &why)) << why;
    platform::Application::shared().setStatusBarOrientation(1);

    platform::testing::TemporaryFolder folder;
    auto capture = PCaptureSession::make();
    capture->startCaptureWithCaptureSessionMode(PCaptureModeBackCamera);
    ASSERT_TRUE(eventually([&] { return capture->state() == PCaptureSessionStateCapturing; }));
    capture->startRecordingWithFileNamePattern(folder / "voice-%@.mp4", {"360p"});
    ASSERT_TRUE(eventually([&] { return capture->state() == PCaptureSessionStateRecording; }));
    // Added once the recording has begun: all it counts comes after the recording's start.
    const auto counter = std::make_shared<SoundCounter>();
    const auto counting = platform::CaptureAudioDataOutput::make();
    const auto counterQueue = platform::DispatchQueue::create("sound-counter");
    counting->setSampleBufferDelegate(counter, counterQueue);
    const auto session = capture->captureSession();
    ASSERT_TRUE(session);
    session->addOutput(counting);
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] { return counter->frames.load() >= kRecordedFrames; }, kPatience));
    session->removeOutput(counting);
    const auto stopped = std::make_shared<std::atomic<bool>>(false);
    capture->stopRecordingWithCompletionBlock([stopped] { *stopped = true; });
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return stopped->load(); }, kPatience));
    capture->stopCapture();
    ASSERT_TRUE(eventually([&] { return capture->state() == PCaptureSessionStateIdle; }));

    int rate = 0;
    const auto heard = pindle::testing::audioSamples(folder / "voice-360p.mp4", &rate);
    ASSERT_GT(rate, 0);
    const double seconds = static_cast<double>(heard.size()) / rate;
    // All that was counted, less what came before the first picture fixed the file's start.
    ASSERT_GT(seconds, 1.0);
    // From the start: the first fifth of a second is the tone. Sound taken before the
    // recording began is dropped a buffer (1,024 frames, 23 ms) at a time, so the tone is at
    // full level from the first buffer on, not after seconds of filled-in silence. (The mono
    // tone reaches the stereo sink and comes back mono 3 dB down.)
    EXPECT_NEAR(pindle::testing::sound::dominantFrequency(heard, 0, 0.2, rate), kTone, 3);
    EXPECT_GT(pindle::testing::sound::rms(heard, 0.025, 0.2, rate), TonePlayback::amplitude * 0.4);
    EXPECT_NEAR(pindle::testing::sound::dominantFrequency(heard, 0.2, seconds, rate), kTone, 2);
    hardware.reset();
}

}  // namespace
}  // namespace pindle::legacy
