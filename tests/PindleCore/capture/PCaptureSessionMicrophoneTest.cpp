// The legacy capture session recording the desktop's microphone: a private sound server plays
// a tone into its null sink, whose monitor is the default source; the recording's audio track
// carries that tone at its frequency from its very start.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "PindleCore/capture/PCaptureSession.hpp"
#include "platform/app/Application.hpp"
#include "platform/capture/CaptureHardware.hpp"
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
#if defined(__SANITIZE_THREAD__)
// Under the thread sanitizer the capture queue turns each camera frame into a picture many
// times slower than in any other build, and the sound server drops what the queue has not
// taken in time: about half the sound. The recording runs longer there, so that more than a
// second of sound still reaches the file.
constexpr std::chrono::milliseconds kRecording{4000};
#else
constexpr std::chrono::milliseconds kRecording{1500};
#endif

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
    // The sound server's clock is the real one.
    const auto until = std::chrono::steady_clock::now() + kRecording;
    ASSERT_TRUE(eventually([&] { return std::chrono::steady_clock::now() >= until; }));
    std::atomic<bool> stopped{false};
    capture->stopRecordingWithCompletionBlock([&] { stopped = true; });
    ASSERT_TRUE(eventually([&] { return stopped.load(); }));
    capture->stopCapture();
    ASSERT_TRUE(eventually([&] { return capture->state() == PCaptureSessionStateIdle; }));

    int rate = 0;
    const auto heard = pindle::testing::audioSamples(folder / "voice-360p.mp4", &rate);
    ASSERT_GT(rate, 0);
    const double seconds = static_cast<double>(heard.size()) / rate;
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
