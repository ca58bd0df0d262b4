#include "platform/capture/CaptureSession.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/audio/PulseMicrophone.hpp"
#include "platform/capture/LinuxCamera.hpp"
#include "platform/capture/private/SyntheticCaptureSource.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/media/CameraStream.hpp"

namespace pindle::platform {

namespace {

constexpr std::int32_t kNanoseconds = 1'000'000'000;
// How many sound buffers a late timer still hands over (about two seconds' worth).
constexpr std::int64_t mostSoundBuffersBehind = 86;
std::atomic<int> sessionCount{0};

MediaTime now() {
    return MediaTime(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::current()->uptime()).count(),
        kNanoseconds);
}

struct PictureSize {
    int width, height;
};

PictureSize sizeOf(const std::string& preset) {
    if (preset == CaptureHardware::presetMedium)
        return {480, 360};
    if (preset == CaptureHardware::presetHigh)
        return {1280, 720};
    return {960, 540};
}

// Periods of 1/rate s in `time`, a time of now() (in nanoseconds), to the nearest whole one.
std::int64_t ticksOf(const MediaTime& time, std::int32_t rate) {
    return time.value / kNanoseconds * rate +
           (time.value % kNanoseconds * rate + kNanoseconds / 2) / kNanoseconds;
}

bool isKnownPreset(const std::string& preset) {
    return preset == CaptureHardware::presetIFrame960x540 ||
           preset == CaptureHardware::presetMedium || preset == CaptureHardware::presetHigh;
}

}  // namespace

CaptureSessionPtr CaptureSession::make() {
    return std::make_shared<CaptureSession>(Private{});
}

CaptureSession::CaptureSession(Private)
    : paceQueue_(DispatchQueue::create("com.pindle.platform.capturesession." +
                                       std::to_string(++sessionCount))),
      preset_(CaptureHardware::presetHigh) {}

CaptureSession::~CaptureSession() {
    {
        std::lock_guard streaming(streamMutex_);
        cameraStream_.reset();
        microphoneRecording_.reset();
    }
    SyntheticCaptureSource::shared().sessionStopped(this);
    std::lock_guard lock(mutex_);
    for (const auto& timer : {videoTimer_, audioTimer_})
        if (timer)
            timer->cancel();
}

bool CaptureSession::canAddInput(const CaptureDeviceInputPtr& input) const {
    if (!input)
        return false;
    std::lock_guard lock(mutex_);
    return std::none_of(inputs_.begin(), inputs_.end(), [&](const CaptureDeviceInputPtr& other) {
        return other == input || other->device() == input->device();
    });
}

void CaptureSession::addInput(const CaptureDeviceInputPtr& input) {
    if (!canAddInput(input))
        return;
    {
        std::lock_guard lock(mutex_);
        inputs_.push_back(input);
    }
    refreshStreams();
}

void CaptureSession::removeInput(const CaptureDeviceInputPtr& input) {
    {
        std::lock_guard lock(mutex_);
        std::erase(inputs_, input);
    }
    refreshStreams();
}

std::vector<CaptureDeviceInputPtr> CaptureSession::inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

bool CaptureSession::canAddOutput(const CaptureOutputPtr& output) const {
    if (!output)
        return false;
    std::lock_guard lock(mutex_);
    return std::find(outputs_.begin(), outputs_.end(), output) == outputs_.end();
}

void CaptureSession::addOutput(const CaptureOutputPtr& output) {
    if (!canAddOutput(output))
        return;
    std::lock_guard lock(mutex_);
    outputs_.push_back(output);
}

void CaptureSession::removeOutput(const CaptureOutputPtr& output) {
    std::lock_guard lock(mutex_);
    std::erase(outputs_, output);
}

std::vector<CaptureOutputPtr> CaptureSession::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

bool CaptureSession::canSetSessionPreset(const std::string& preset) const {
    if (!isKnownPreset(preset))
        return false;
    for (const auto& input : inputs())
        if (input->device()->hasMediaType(CaptureMediaType::video) &&
            !input->device()->supportsPreset(preset))
            return false;
    return true;
}

void CaptureSession::setSessionPreset(const std::string& preset) {
    if (!canSetSessionPreset(preset))
        return;
    {
        std::lock_guard lock(mutex_);
        preset_ = preset;
    }
    refreshStreams();
}

std::string CaptureSession::sessionPreset() const {
    std::lock_guard lock(mutex_);
    return preset_;
}

void CaptureSession::beginConfiguration() {
    std::lock_guard lock(mutex_);
    ++configurationDepth_;
}

void CaptureSession::commitConfiguration() {
    std::lock_guard lock(mutex_);
    configurationDepth_ = std::max(0, configurationDepth_ - 1);
}

bool CaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool CaptureSession::isInterrupted() const {
    std::lock_guard lock(mutex_);
    return interrupted_;
}

Value CaptureSession::valueForKey(std::string_view key) const {
    if (key == "running")
        return Value(isRunning());
    if (key == "interrupted")
        return Value(isInterrupted());
    return KeyValueObservable::valueForKey(key);
}

void CaptureSession::setFlag(const char* key, bool& field, bool value) {
    willChangeValueForKey(key);
    {
        std::lock_guard lock(mutex_);
        field = value;
    }
    didChangeValueForKey(key);
}

void CaptureSession::post(const char* name, Dictionary userInfo) {
    NotificationCenter::defaultCenter().post(name, Value(shared_from_this()), std::move(userInfo));
}

void CaptureSession::startRunning() {
    if (isRunning())
        return;
    setFlag("running", running_, true);
    SyntheticCaptureSource::shared().sessionStarted(
        std::static_pointer_cast<CaptureSession>(shared_from_this()));
    startPacing();
    post(didStartRunningNotification);
    refreshStreams();
}

void CaptureSession::stopRunning() {
    if (!isRunning())
        return;
    stopPacing();
    SyntheticCaptureSource::shared().sessionStopped(this);
    setFlag("running", running_, false);
    refreshStreams();
    post(didStopRunningNotification);
}

void CaptureSession::simulateInterruption() {
    if (!isRunning() || isInterrupted())
        return;
    setFlag("interrupted", interrupted_, true);
    refreshStreams();
    post(wasInterruptedNotification);
}

void CaptureSession::simulateInterruptionEnded() {
    if (!isInterrupted())
        return;
    setFlag("interrupted", interrupted_, false);
    refreshStreams();
    post(interruptionEndedNotification);
}

void CaptureSession::simulateRuntimeError(const Error& error) {
    post(runtimeErrorNotification, Dictionary{{errorKey, Value(error)}});
    stopRunning();
}

void CaptureSession::startPacing() {
    // A device's clock stamps sample k at start + k periods, and hands it over once it has
    // been taken whole, a period later: the timers only say when to hand over what is due by
    // then. Times are counted on the sample clocks' own timescales, so that the periods add
    // up exactly.
    constexpr auto pictureRate = static_cast<std::int32_t>(SyntheticCaptureSource::framesPerSecond);
    constexpr std::int32_t soundRate = SyntheticCaptureSource::sampleRate;
    constexpr auto bufferFrames =
        static_cast<std::int64_t>(SyntheticCaptureSource::framesPerAudioBuffer);
    const MediaTime started = now();
    const std::int64_t firstPicture = ticksOf(started, pictureRate);
    const std::int64_t firstSound = ticksOf(started, soundRate);
    {
        std::lock_guard lock(mutex_);
        framesPaced_ = 0;
        soundsPaced_ = 0;
    }
    auto video = DispatchTimerSource::create(paceQueue_);
    video->setEventHandler(weakly(this, [firstPicture](CaptureSession& self) {
        if (SyntheticCaptureSource::shared().isManual())
            return;
        // Late or coalesced ticks: a camera drops the pictures it could not hand over, and the
        // next one keeps its own time and number.
        const std::int64_t due = ticksOf(now(), pictureRate) - firstPicture - 1;
        {
            std::lock_guard lock(self.mutex_);
            if (due < self.framesPaced_)
                return;
            self.framesPaced_ = due + 1;
        }
        self.deliverPicture(MediaTime(firstPicture + due, pictureRate), due);
    }));
    auto audio = DispatchTimerSource::create(paceQueue_);
    audio->setEventHandler(weakly(this, [firstSound](CaptureSession& self) {
        if (SyntheticCaptureSource::shared().isManual())
            return;
        // Sound is not dropped: every buffer due by now is handed over at its own time, as far
        // back as a microphone keeps them.
        const std::int64_t due = (ticksOf(now(), soundRate) - firstSound) / bufferFrames - 1;
        std::int64_t from = 0;
        {
            std::lock_guard lock(self.mutex_);
            from = std::max(self.soundsPaced_, due + 1 - mostSoundBuffersBehind);
            self.soundsPaced_ = std::max(self.soundsPaced_, due + 1);
        }
        for (std::int64_t k = from; k <= due; ++k)
            self.deliverSound(MediaTime(firstSound + k * bufferFrames, soundRate),
                              SyntheticCaptureSource::framesPerAudioBuffer);
    }));
    const double framePeriod = 1.0 / SyntheticCaptureSource::framesPerSecond;
    const double bufferPeriod = static_cast<double>(SyntheticCaptureSource::framesPerAudioBuffer) /
                                SyntheticCaptureSource::sampleRate;
    video->schedule(DispatchTime::after(framePeriod), framePeriod);
    audio->schedule(DispatchTime::after(bufferPeriod), bufferPeriod);
    {
        std::lock_guard lock(mutex_);
        videoTimer_ = video;
        audioTimer_ = audio;
    }
    video->resume();
    audio->resume();
}

void CaptureSession::stopPacing() {
    DispatchTimerSourcePtr video;
    DispatchTimerSourcePtr audio;
    {
        std::lock_guard lock(mutex_);
        video = std::move(videoTimer_);
        audio = std::move(audioTimer_);
    }
    for (const auto& timer : {video, audio})
        if (timer)
            timer->cancel();
}

bool CaptureSession::delivering() const {
    std::lock_guard lock(mutex_);
    return running_ && !interrupted_;
}

CaptureDevicePtr CaptureSession::camera() const {
    for (const auto& input : inputs())
        if (input->device()->hasMediaType(CaptureMediaType::video))
            return input->device();
    return nullptr;
}

bool CaptureSession::hasMicrophone() const {
    return microphone() != nullptr;
}

CaptureDevicePtr CaptureSession::microphone() const {
    for (const auto& input : inputs())
        if (input->device()->hasMediaType(CaptureMediaType::audio))
            return input->device();
    return nullptr;
}

void CaptureSession::refreshMicrophoneRecording() {
    const auto device = microphone();
    std::shared_ptr<PulseMicrophone> real = device ? device->pulseMicrophone() : nullptr;
    if (!delivering())
        real.reset();

    std::lock_guard streaming(streamMutex_);
    if (real == recordingFrom_)
        return;
    microphoneRecording_.reset();
    recordingFrom_ = real;
    if (!real)
        return;
    std::weak_ptr<CaptureSession> weak =
        std::static_pointer_cast<CaptureSession>(shared_from_this());
    const auto fail = [weak, queue = paceQueue_](const Error& error) {
        queue->async(
            weakly(weak, [error](CaptureSession& self) { self.simulateRuntimeError(error); }));
    };
    Error error;
    // Sound crosses to the session's queue, as pictures do: the sound server's thread never
    // holds the session.
    microphoneRecording_ = real->record(
        [weak, queue = paceQueue_](std::vector<std::int16_t> samples, MediaTime time) {
            queue->async(
                weakly(weak, [samples = std::move(samples), time](CaptureSession& self) mutable {
                    self.deliverMicrophoneSound(std::move(samples), time);
                }));
        },
        fail, &error);
    if (!microphoneRecording_)
        fail(error);
}

void CaptureSession::deliverMicrophoneSound(std::vector<std::int16_t> samples, MediaTime time) {
    if (!delivering() || !hasMicrophone())
        return;
    const auto sound =
        SampleBuffer::makeAudio({PulseMicrophone::sampleRate, 1}, std::move(samples), time);
    for (const auto& output : outputs())
        if (auto audio = std::dynamic_pointer_cast<CaptureAudioDataOutput>(output))
            audio->deliver(sound);
}

void CaptureSession::refreshStreams() {
    refreshMicrophoneRecording();
    refreshCameraStream();
}

void CaptureSession::refreshCameraStream() {
    const auto device = camera();
    const std::shared_ptr<LinuxCamera> real = device ? device->linuxCamera() : nullptr;
    CameraStream::Target target;
    const PictureSize size = sizeOf(sessionPreset());
    target.width = size.width;
    target.height = size.height;
    for (const auto& output : outputs())
        if (auto video = std::dynamic_pointer_cast<CaptureVideoDataOutput>(output)) {
            target.format = video->pixelFormat();
            break;
        }
    std::string key;
    if (real && delivering())
        key = real->path() + " " + std::to_string(target.width) + "x" +
              std::to_string(target.height) + " " +
              std::to_string(static_cast<std::uint32_t>(target.format));

    std::lock_guard streaming(streamMutex_);
    if (key == streamKey_)
        return;
    cameraStream_.reset();
    streamKey_ = key;
    if (key.empty())
        return;
    std::weak_ptr<CaptureSession> weak =
        std::static_pointer_cast<CaptureSession>(shared_from_this());
    const auto fail = [weak, queue = paceQueue_](const Error& error) {
        // Not on the stream's thread: stopping joins it.
        queue->async(
            weakly(weak, [error](CaptureSession& self) { self.simulateRuntimeError(error); }));
    };
    Error error;
    cameraStream_ = real->open(target.width, target.height, nullptr, &error);
    if (!cameraStream_)
        return fail(error);
    // Pictures cross to the session's queue: the stream's thread never holds the session, so
    // it never releases the last reference and stops (joins) itself.
    cameraStream_->start(
        target,
        [weak, queue = paceQueue_](const PixelBufferPtr& picture) {
            const MediaTime arrived = now();
            queue->async(weakly(weak, [picture, arrived](CaptureSession& self) {
                self.deliverCameraPicture(picture, arrived);
            }));
        },
        fail);
}

void CaptureSession::deliverCameraPicture(const PixelBufferPtr& picture, MediaTime arrived) {
    if (!delivering())
        return;
    const auto sample = SampleBuffer::makeVideo(picture, arrived);
    for (const auto& output : outputs())
        if (auto video = std::dynamic_pointer_cast<CaptureVideoDataOutput>(output))
            video->deliver(sample);
}

void CaptureSession::deliverPicture(MediaTime presentationTime, std::int64_t frameNumber) {
    const auto device = camera();
    if (!delivering() || !device || device->linuxCamera())
        return;
    const PictureSize size = sizeOf(sessionPreset());
    for (const auto& output : outputs()) {
        if (auto video = std::dynamic_pointer_cast<CaptureVideoDataOutput>(output)) {
            const auto orientation = video->connection(CaptureMediaType::video)->videoOrientation();
            const bool upright =
                orientation == CaptureConnection::VideoOrientation::portrait ||
                orientation == CaptureConnection::VideoOrientation::portraitUpsideDown;
            const auto picture = SyntheticCaptureSource::makePicture(
                video->pixelFormat(), upright ? size.height : size.width,
                upright ? size.width : size.height, device->position(), frameNumber);
            video->deliver(SampleBuffer::makeVideo(picture, presentationTime));
        }
    }
    if (const auto qr = SyntheticCaptureSource::shared().qrCode())
        deliverMetadata({MetadataObject{MetadataObject::typeQRCode, *qr}});
}

void CaptureSession::deliverSound(MediaTime presentationTime, std::size_t frames) {
    const auto device = microphone();
    if (!delivering() || !device || device->pulseMicrophone())
        return;
    const auto sound = SyntheticCaptureSource::makeSound(presentationTime, frames);
    for (const auto& output : outputs())
        if (auto audio = std::dynamic_pointer_cast<CaptureAudioDataOutput>(output))
            audio->deliver(sound);
}

void CaptureSession::deliverMetadata(const std::vector<MetadataObject>& objects) {
    if (!delivering() || !camera())
        return;
    for (const auto& output : outputs())
        if (auto metadata = std::dynamic_pointer_cast<CaptureMetadataOutput>(output))
            metadata->deliver(objects);
}

}  // namespace pindle::platform
