// The desktop's microphone against a private sound server: a tone played into its null sink,
// whose monitor is the default source, reaches a capture session's audio output in the
// session's format, with the times of a device's clock; the server going away is a runtime
// error; no server is the synthetic microphone, saying why.
#include "platform/audio/PulseMicrophone.hpp"

#include <gtest/gtest.h>

#include <mutex>

#include "platform/capture/CaptureDevice.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/PulseAudioServer.hpp"
#include "tests/support/SpinUntil.hpp"
#include "tests/support/TonePlayback.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::PulseAudioServer;
using pindle::testing::TonePlayback;

constexpr double kTone = 660;

class Sounds : public CaptureOutputSampleBufferDelegate {
  public:
    void captureOutput(CaptureOutput&, const SampleBufferPtr& sample, CaptureConnection&) override {
        std::lock_guard lock(mutex);
        samples.push_back(sample);
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return samples.size();
    }
    std::mutex mutex;
    std::vector<SampleBufferPtr> samples;  // guarded by mutex
};

class PulseMicrophoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string skip, failure;
        server_ = PulseAudioServer::start(&skip, &failure);
        if (!server_ && !skip.empty())
            GTEST_SKIP() << skip;
        ASSERT_TRUE(server_) << failure;
        tone_ = TonePlayback::start(server_->address(), kTone, &failure);
        ASSERT_TRUE(tone_) << failure;
        ASSERT_TRUE(tone_->waitUntilHeard(*server_, &failure)) << failure;
        std::string why;
        ASSERT_TRUE(CaptureHardware::shared().useMicrophoneServer(server_->address(), &why)) << why;
    }
    void TearDown() override {
        session_.reset();
        CaptureHardware::shared().reset();
    }

    // A running session recording the microphone into `sounds`.
    void record(const std::shared_ptr<Sounds>& sounds) {
        const auto microphone = CaptureDevice::defaultDevice(CaptureMediaType::audio);
        ASSERT_TRUE(microphone && microphone->pulseMicrophone());
        session_ = CaptureSession::make();
        session_->addInput(CaptureDeviceInput::make(microphone));
        auto output = CaptureAudioDataOutput::make();
        output->setSampleBufferDelegate(sounds, queue_);
        session_->addOutput(output);
        session_->startRunning();
    }

    std::unique_ptr<PulseAudioServer> server_;
    std::unique_ptr<TonePlayback> tone_;
    std::shared_ptr<CaptureSession> session_;
    const std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::create("microphone-test");
};

TEST_F(PulseMicrophoneTest, TheDefaultSourceArrivesInTheSessionsFormatOnTheDevicesClock) {
    EXPECT_EQ(CaptureHardware::shared().microphoneChoice(),
              "the default source " + server_->monitorName() + " of the sound server at " +
                  server_->address());
    auto sounds = std::make_shared<Sounds>();
    const double started = std::chrono::duration<double>(Clock::current()->uptime()).count();
    record(sounds);
    // A second of sound: 43 buffers of 1,024 frames.
    ASSERT_TRUE(pindle::testing::spinUntil([&] { return sounds->count() >= 43; }));
    session_->stopRunning();
    ASSERT_TRUE(pindle::testing::drain(queue_));

    std::lock_guard lock(sounds->mutex);
    std::vector<float> heard;
    const auto& first = *sounds->samples.front();
    EXPECT_NEAR(first.presentationTimeStamp().seconds(), started, 0.5);
    for (std::size_t i = 0; i < sounds->samples.size(); ++i) {
        const auto& sound = *sounds->samples[i];
        ASSERT_EQ(sound.audioFormat(), (SampleBuffer::AudioFormat{44100, 1}));
        ASSERT_EQ(sound.numSamples(), PulseMicrophone::framesPerBuffer);
        // One buffer after another, with no gap and no overlap.
        EXPECT_EQ(
            sound.presentationTimeStamp(),
            MediaTime(first.presentationTimeStamp().value + 1024 * static_cast<int>(i), 44100));
        for (std::size_t k = 0; k < sound.numSamples(); ++k)
            heard.push_back(static_cast<float>(sound.audioData()[k]) / 32768.0f);
    }
    const double seconds = static_cast<double>(heard.size()) / 44100;
    EXPECT_NEAR(pindle::testing::sound::dominantFrequency(heard, 0.2, seconds, 44100), kTone, 2);
    EXPECT_GT(pindle::testing::sound::rms(heard, 0.2, seconds, 44100), 0.2);
}

TEST_F(PulseMicrophoneTest, TheServerGoingAwayIsARuntimeErrorThatStopsTheSession) {
    auto sounds = std::make_shared<Sounds>();
    std::mutex mutex;
    std::vector<Error> errors;  // guarded by mutex
    record(sounds);
    auto registration = NotificationCenter::defaultCenter().addObserverForName(
        CaptureSession::runtimeErrorNotification, session_.get(), nullptr,
        [&](const Notification& note) {
            std::lock_guard lock(mutex);
            if (const auto found = note.userInfo.find(CaptureSession::errorKey);
                found != note.userInfo.end())
                if (const auto error = found->second.asError())
                    errors.push_back(*error);
        });
    ASSERT_TRUE(pindle::testing::spinUntil([&] { return sounds->count() > 0; }));
    tone_.reset();
    server_->kill();
    ASSERT_TRUE(pindle::testing::spinUntil([&] { return !session_->isRunning(); }));
    registration->remove();
    std::lock_guard lock(mutex);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().localizedDescription().rfind("The microphone went away", 0), 0u)
        << errors.front().localizedDescription();
}

TEST(PulseMicrophoneChoiceTest, NoServerMeansTheSyntheticMicrophoneAndSaysWhy) {
    std::string why;
    EXPECT_FALSE(
        CaptureHardware::shared().useMicrophoneServer("unix:/nonexistent/pulse/native", &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(CaptureHardware::shared().microphoneChoice(),
              "the synthetic microphone (" + why + ")");
    const auto microphone = CaptureDevice::defaultDevice(CaptureMediaType::audio);
    ASSERT_TRUE(microphone);
    EXPECT_FALSE(microphone->pulseMicrophone());
    CaptureHardware::shared().reset();
}

}  // namespace
}  // namespace pindle::platform
