#include "PindleCore/capture/PCaptureSession.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "PindleCore/legacy/PBundle.hpp"
#include "PindleCore/logging/PLog.hpp"
#include "platform/app/Application.hpp"
#include "platform/app/Device.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/media/GraphicsContext.hpp"

namespace pindle::legacy {

namespace {

using platform::MediaTime;

constexpr std::int32_t microseconds = 1'000'000;
constexpr std::int64_t frameStep = 33363;  // µs between filler pictures
constexpr std::int64_t soundStep = 2322;   // of 100,000 s, one re-timed sound buffer
constexpr std::int32_t soundTimescale = 100000;
constexpr float framePeriod = 0.033363f;
constexpr float halfFramePeriod = 0.0166815f;
constexpr float soundPeriod = 0.02322f;
constexpr float halfSoundPeriod = 0.01161f;
constexpr int placeholderSide = 480;

struct ResolutionTable {
    const char* name;
    double width, height, square;
    std::int64_t bitRate;
};
constexpr ResolutionTable kResolutions[] = {
    {"720p", 720, 1280, 720, 3072000},
    {"540p", 540, 960, 540, 1536000},
    {"360p", 360, 640, 360, 1024000},
};

const ResolutionTable* tableOf(const std::string& resolution) {
    for (const auto& row : kResolutions)
        if (resolution == row.name)
            return &row;
    return nullptr;
}

bool cameraAvailable(platform::CaptureDevicePosition position) {
    return platform::CaptureHardware::shared().camera(position).present;
}

// The pattern with its first "%@" replaced by the name; never read as a format.
std::string fileNameFor(const std::string& pattern, const std::string& resolution) {
    std::string name = pattern;
    if (const auto at = name.find("%@"); at != std::string::npos)
        name.replace(at, 2, resolution);
    return name;
}

// Tells a capture queue's own blocks which session owns it.
const platform::DispatchSpecificKey<const PCaptureSession*>& captureQueueKey() {
    static const platform::DispatchSpecificKey<const PCaptureSession*> key;
    return key;
}

bool isZero(const MediaTime& time) {
    return time == MediaTime::zero();
}

void configureVideoDevice(const platform::CaptureDevicePtr& device) {
    using D = platform::CaptureDevice;
    if (!device || !device->lockForConfiguration())
        return;
    device->setActiveVideoMinFrameDuration(MediaTime(1, 30));
    device->setActiveVideoMaxFrameDuration(MediaTime(1, 30));
    if (device->hasFlash() && device->isFlashModeSupported(D::FlashMode::off))
        device->setFlashMode(D::FlashMode::off);
    if (device->hasTorch() && device->isTorchModeSupported(D::TorchMode::off))
        device->setTorchMode(D::TorchMode::off);
    if (device->isExposureModeSupported(D::ExposureMode::continuousAutoExposure))
        device->setExposureMode(D::ExposureMode::continuousAutoExposure);
    if (device->isLowLightBoostSupported())
        device->setAutomaticallyEnablesLowLightBoostWhenAvailable(true);
    device->unlockForConfiguration();
}

}  // namespace

std::shared_ptr<PCaptureSession> PCaptureSession::make() {
    auto session = std::make_shared<PCaptureSession>(Private{});
    session->setUp();
    return session;
}

PCaptureSession::PCaptureSession(Private)
    : queue_(platform::DispatchQueue::create(
          "PCaptureSessionQueue" +
          std::to_string(static_cast<long long>(platform::Date::now().timeIntervalSince1970())))) {
    queue_->setSpecific(captureQueueKey(), std::optional<const PCaptureSession*>(this));
}

std::shared_ptr<PCaptureSession> PCaptureSession::self() {
    return std::static_pointer_cast<PCaptureSession>(shared_from_this());
}

void PCaptureSession::setUp() {
    {
        std::lock_guard lock(mutex_);
        currentOrientation_ = platform::Application::shared().statusBarOrientation();
    }
    updateRect();
    auto registration = platform::NotificationCenter::defaultCenter().addObserverForName(
        platform::Device::orientationDidChangeNotification, nullptr, nullptr,
        platform::weakly(this, [](PCaptureSession& session, const platform::Notification&) {
            std::lock_guard lock(session.mutex_);
            session.currentOrientation_ = platform::Application::shared().statusBarOrientation();
        }));
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(registration));
}

PCaptureSession::~PCaptureSession() {
    for (const auto& registration : registrations_) registration->remove();
    if (session_)
        session_->stopRunning();
    // The outputs and writers are let go of on the capture queue, where they are used.
    queue_->async([video = videoOutput_, audio = audioOutput_, metadata = metadataOutput_,
                   writers = writers_] {
        if (video)
            video->setSampleBufferDelegate({}, nullptr);
        if (audio)
            audio->setSampleBufferDelegate({}, nullptr);
        if (metadata)
            metadata->setMetadataObjectsDelegate({}, nullptr);
        for (const auto& [name, entry] : writers) {
            if (entry.statusObservation)
                entry.statusObservation->invalidate();
            if (entry.writer->status() == platform::AssetWriter::Status::writing)
                entry.writer->cancelWriting();
        }
    });
}

void PCaptureSession::setDelegate(const std::shared_ptr<PCaptureSessionDelegate>& delegate) {
    delegate_.set(delegate);
}

std::shared_ptr<PCaptureSessionDelegate> PCaptureSession::delegate() const {
    return delegate_.get();
}

bool PCaptureSession::canCaptureWithSessionMode(int mode) {
    switch (mode) {
        case PCaptureModeAudioOnly:
            return true;
        case PCaptureModeBackCamera:
            return cameraAvailable(platform::CaptureDevicePosition::back);
        case PCaptureModeFrontCamera:
            return cameraAvailable(platform::CaptureDevicePosition::front);
        default:
            return false;
    }
}

int PCaptureSession::captureMode() const {
    std::lock_guard lock(mutex_);
    return captureMode_;
}

platform::Value PCaptureSession::valueForKey(std::string_view key) const {
    if (key == captureModeKey)
        return platform::Value(captureMode());
    return KeyValueObservable::valueForKey(key);
}

void PCaptureSession::startCaptureWithCaptureSessionMode(int mode) {
    if (!canCaptureWithSessionMode(mode))
        return;
    int idle = PCaptureSessionStateIdle;
    if (!state_.compare_exchange_strong(idle, PCaptureSessionStateStarting))
        return;
    queuedState_ = PCaptureSessionStateStarting;
    {
        std::lock_guard lock(mutex_);
        session_ = platform::CaptureSession::make();
        captureMode_ = mode;
    }
    queue_->async(
        platform::weakly(this, [](PCaptureSession& session) { session.startCaptureOnQueue(); }));
}

void PCaptureSession::startCaptureOnQueue() {
    if (queuedState_ != PCaptureSessionStateStarting)
        return;
    const auto session = captureSession();
    if (!session)
        return;
    PLOG_INFO(PLog_Capture, "PLog_Capture Starting capture");
    const auto me = self();
    for (const std::shared_ptr<platform::CaptureDataOutput>& output :
         {std::static_pointer_cast<platform::CaptureDataOutput>(videoOutput_),
          std::static_pointer_cast<platform::CaptureDataOutput>(audioOutput_)})
        if (output)
            output->setSampleBufferDelegate({}, nullptr);
    if (metadataOutput_)
        metadataOutput_->setMetadataObjectsDelegate({}, nullptr);

    videoOutput_ = platform::CaptureVideoDataOutput::make();
    session->addOutput(videoOutput_);
    videoOutput_->setSampleBufferDelegate(me, queue_);
    videoOutput_->setPixelFormat(platform::PixelBuffer::Format::nv12);
    videoOutput_->setAlwaysDiscardsLateVideoFrames(false);
    audioOutput_ = platform::CaptureAudioDataOutput::make();
    session->addOutput(audioOutput_);
    audioOutput_->setSampleBufferDelegate(me, queue_);

    initDevices();
    if (audioInput_ && session->canAddInput(audioInput_))
        session->addInput(audioInput_);
    else
        PLOG_INFO(PLog_Capture, "PLog_Capture Forbidden to add audio input");
    updateSessionVideoInputWithMode(captureMode());

    metadataOutput_ = platform::CaptureMetadataOutput::make();
    session->addOutput(metadataOutput_);
    const auto available = metadataOutput_->availableMetadataObjectTypes();
    if (std::find(available.begin(), available.end(), platform::MetadataObject::typeQRCode) !=
        available.end()) {
        metadataOutput_->setMetadataObjectTypes({platform::MetadataObject::typeQRCode});
    } else {
        const std::array<std::string_view, 1> line{"QR Code doesn't supported\n"};
        platform::StandardError::writeGathered(line);
    }
    metadataOutput_->setMetadataObjectsDelegate(me, queue_);

    auto& center = platform::NotificationCenter::defaultCenter();
    std::vector<platform::NotificationCenter::RegistrationPtr> observed;
    const platform::Object* sender = session.get();
    observed.push_back(center.addObserverForName(
        platform::CaptureSession::didStartRunningNotification, sender, nullptr,
        platform::weakly(
            me, [](PCaptureSession& s, const platform::Notification&) { s.sessionStarted(); })));
    observed.push_back(center.addObserverForName(
        platform::CaptureSession::didStopRunningNotification, sender, nullptr,
        platform::weakly(me, [sender](PCaptureSession& s, const platform::Notification&) {
            s.sessionStopped(sender);
        })));
    observed.push_back(center.addObserverForName(
        platform::CaptureSession::wasInterruptedNotification, sender, nullptr,
        platform::weakly(me, [](PCaptureSession& session, const platform::Notification&) {
            session.queue_->async([s = session.self()] {
                PLOG_INFO(PLog_Capture, "PLog_Capture Interrupted capturing");
                s->isInterrupted_ = true;
                s->rejoinVideo_ = s->rejoinSound_ = true;
            });
        })));
    observed.push_back(center.addObserverForName(
        platform::CaptureSession::interruptionEndedNotification, sender, nullptr,
        platform::weakly(me, [sender](PCaptureSession& s, const platform::Notification&) {
            s.interruptionEnded(sender);
        })));
    observed.push_back(center.addObserverForName(
        platform::CaptureSession::runtimeErrorNotification, sender, nullptr,
        platform::weakly(me, [](PCaptureSession& s, const platform::Notification& note) {
            s.stopCapture();
            std::string why = "unknown error";
            if (const auto found = note.userInfo.find(platform::CaptureSession::errorKey);
                found != note.userInfo.end())
                if (const auto error = found->second.asError())
                    why = error->description();
            PLOG_INFO(PLog_Capture, "PLog_Capture %s", ("Runtime error: " + why).c_str());
        })));
    {
        std::lock_guard lock(mutex_);
        registrations_.insert(registrations_.end(), observed.begin(), observed.end());
    }
    auto* connection = videoOutput_->connection(platform::CaptureMediaType::video);
    if (connection->isVideoStabilizationSupported())
        connection->setPreferredVideoStabilizationMode(
            platform::CaptureConnection::StabilizationMode::automatic);
    updateOrientation();
    session->startRunning();
    if (const auto device = getVideoDevice(); device && device->isLowLightBoostSupported())
        device->setAutomaticallyEnablesLowLightBoostWhenAvailable(true);
}

void PCaptureSession::initDevices() {
    {
        std::lock_guard lock(mutex_);
        zoomVal_ = 1;
        tablesFilled_ = true;
    }
    // The platform names the camera serving as back and front: a desktop's webcam faces no
    // particular way, and serves as the back camera unless it says it faces front.
    const auto back = platform::CaptureDevice::camera(platform::CaptureDevicePosition::back);
    const auto front = platform::CaptureDevice::camera(platform::CaptureDevicePosition::front);
    configureVideoDevice(back);
    configureVideoDevice(front);
    platform::Error error;
    backCameraInput_ = platform::CaptureDeviceInput::make(back, &error);
    if (!backCameraInput_)
        PLOG_INFO(PLog_Capture, "PLog_Capture Failed to create backCameraInput - %s",
                  error.description().c_str());
    frontCameraInput_ = platform::CaptureDeviceInput::make(front, &error);
    if (!frontCameraInput_)
        PLOG_INFO(PLog_Capture, "PLog_Capture Failed to create frontCameraInput - %s",
                  error.description().c_str());
    audioInput_ = platform::CaptureDeviceInput::make(
        platform::CaptureDevice::defaultDevice(platform::CaptureMediaType::audio), &error);
    if (!audioInput_)
        PLOG_INFO(PLog_Capture, "PLog_Capture Failed to initialize audio device - %s",
                  error.description().c_str());
}

void PCaptureSession::updateSessionVideoInputWithMode(int mode) {
    const auto session = captureSession();
    if (!session)
        return;
    for (const auto& input : session->inputs()) {
        if (input->device()->hasMediaType(platform::CaptureMediaType::video)) {
            session->removeInput(input);
            std::lock_guard lock(mutex_);
            zoomVal_ = 1;
        }
    }
    platform::CaptureDeviceInputPtr input;
    if ((mode == PCaptureModeBackCamera || mode == PCaptureModeAudioOnly) &&
        cameraAvailable(platform::CaptureDevicePosition::back))
        input = backCameraInput_;
    else if ((mode == PCaptureModeFrontCamera || mode == PCaptureModeAudioOnly) &&
             cameraAvailable(platform::CaptureDevicePosition::front))
        input = frontCameraInput_;
    if (input && !input->device()->supportsPreset(platform::CaptureHardware::presetIFrame960x540))
        session->setSessionPreset(platform::CaptureHardware::presetMedium);
    else
        session->setSessionPreset(platform::CaptureHardware::presetIFrame960x540);
    cameraAttached_ = input && session->canAddInput(input);
    if (cameraAttached_)
        session->addInput(input);
    hasVideoOutput_ = mode != PCaptureModeAudioOnly;
    if (startedWithAudioOnlyAndStillAudioOnly_ && hasVideoOutput_)
        startedWithAudioOnlyAndStillAudioOnly_ = false;
}

void PCaptureSession::setCaptureMode(int mode, std::function<void(bool)> block) {
    const auto answer = [&](bool ok) {
        if (block)
            block(ok);
    };
    if (!canCaptureWithSessionMode(mode))
        return answer(false);
    if (mode == captureMode())
        return answer(true);
    if (state_ <= PCaptureSessionStateIdle)
        return answer(false);
    queue_->async(platform::weakly(this, [mode, block](PCaptureSession& me) {
        const auto session = me.captureSession();
        if (session)
            session->beginConfiguration();
        me.updateSessionVideoInputWithMode(mode);
        me.updateOrientation();
        if (session)
            session->commitConfiguration();
        me.willChangeValueForKey(captureModeKey);
        {
            std::lock_guard lock(me.mutex_);
            me.captureMode_ = mode;
        }
        me.didChangeValueForKey(captureModeKey);
        if (block)
            block(true);
        if (mode != PCaptureModeAudioOnly)
            me.setTorch(me.torch());
        if (auto delegate = me.delegate())
            delegate->captureSessionTorchEnabled(me, me.torchEnabled());
    }));
}

int PCaptureSession::figure() const {
    std::lock_guard lock(mutex_);
    return figure_;
}

void PCaptureSession::setFigure(int figure) {
    {
        std::lock_guard lock(mutex_);
        figure_ = figure;
    }
    updateRect();
    // The inputs are capture-queue state, which the sample callbacks read: changed there.
    if (state_ == PCaptureSessionStateCapturing)
        queue_->async(platform::weakly(this, [](PCaptureSession& me) {
            me.updateSessionVideoInputWithMode(me.captureMode());
        }));
}

platform::ui::Rect PCaptureSession::rectToRecord() const {
    std::lock_guard lock(mutex_);
    return rectToRecord_;
}

void PCaptureSession::updateRect() {
    int orientation = 1;
    {
        std::lock_guard lock(mutex_);
        orientation = currentOrientation_;
    }
    const auto rect = getRecorderRectForOrientation(orientation, "720p");
    std::lock_guard lock(mutex_);
    rectToRecord_ = rect;
}

platform::ui::Rect PCaptureSession::getRecorderRectForOrientation(
    int orientation, const std::string& resolution) const {
    float w = 0, h = 0, s = 0;
    int figure = 1;
    {
        std::lock_guard lock(mutex_);
        figure = figure_;
        // The tables are filled when the devices are first made.
        if (const auto* row = tablesFilled_ ? tableOf(resolution) : nullptr) {
            w = static_cast<float>(row->width);
            h = static_cast<float>(row->height);
            s = static_cast<float>(row->square);
        }
    }
    constexpr float frameHeight = 540;
    if (orientation == 3 || orientation == 4)
        return figure == 1 ? platform::ui::Rect::make(0, 0, h, w)
                           : platform::ui::Rect::make(0, 0, s, s);
    if (figure == 1)
        return platform::ui::Rect::make(0, (frameHeight - w) * 0.5f, w, h);
    return platform::ui::Rect::make(0, (frameHeight - s) * 0.5f, s, s);
}

int PCaptureSession::getCurrentVideoOrientation() const {
    std::lock_guard lock(mutex_);
    return currentOrientation_ >= 2 && currentOrientation_ <= 4 ? currentOrientation_ : 1;
}

void PCaptureSession::updateOrientation() {
    if (videoOutput_)
        videoOutput_->connection(platform::CaptureMediaType::video)
            ->setVideoOrientation(static_cast<platform::CaptureConnection::VideoOrientation>(
                getCurrentVideoOrientation()));
    updateRect();
}

platform::CaptureSessionPtr PCaptureSession::captureSession() const {
    std::lock_guard lock(mutex_);
    return session_;
}

platform::CaptureDevicePtr PCaptureSession::getVideoDevice() const {
    const auto session = captureSession();
    if (!session)
        return nullptr;
    for (const auto& input : session->inputs())
        if (input->device()->hasMediaType(platform::CaptureMediaType::video))
            return input->device();
    return nullptr;
}

float PCaptureSession::zoomFactor() const {
    std::lock_guard lock(mutex_);
    return zoomVal_;
}

void PCaptureSession::setZoomFactor(float factor) {
    setZoomFactor(factor, getVideoDevice());
}

void PCaptureSession::setZoomFactor(float factor, const platform::CaptureDevicePtr& device) {
    if (!device || !device->lockForConfiguration())
        return;
    const auto clamped = static_cast<float>(std::max(
        std::min(static_cast<double>(factor), device->activeFormat().videoMaxZoomFactor), 1.0));
    constexpr double zoomRate = 10.0;
    device->rampToVideoZoomFactor(clamped, zoomRate);
    {
        std::lock_guard lock(mutex_);
        zoomVal_ = clamped;
    }
    device->unlockForConfiguration();
}

bool PCaptureSession::torch() const {
    std::lock_guard lock(mutex_);
    return torchVal_;
}

void PCaptureSession::setTorch(bool on) {
    setTorch(on, getVideoDevice());
}

void PCaptureSession::setTorch(bool on, const platform::CaptureDevicePtr& device) {
    using Mode = platform::CaptureDevice::TorchMode;
    if (!device || !device->lockForConfiguration())
        return;
    const Mode mode = on ? Mode::on : Mode::off;
    if (device->hasTorch() && device->isTorchModeSupported(mode)) {
        device->setTorchMode(mode);
        std::lock_guard lock(mutex_);
        torchVal_ = on;
    }
    device->unlockForConfiguration();
}

bool PCaptureSession::torchEnabled() const {
    if (captureMode() == PCaptureModeAudioOnly)
        return false;
    return torchEnabledDevice(getVideoDevice());
}

bool PCaptureSession::torchEnabledDevice(const platform::CaptureDevicePtr& device) {
    return device && device->hasTorch() &&
           device->isTorchModeSupported(platform::CaptureDevice::TorchMode::on);
}

platform::CapturePoint PCaptureSession::focusPoint() const {
    std::lock_guard lock(mutex_);
    return focusPoint_;
}

void PCaptureSession::setFocusPoint(platform::CapturePoint point) {
    setFocusPoint(point, getVideoDevice());
}

void PCaptureSession::setFocusPoint(platform::CapturePoint point,
                                    const platform::CaptureDevicePtr& device) {
    using D = platform::CaptureDevice;
    if (!device || !device->lockForConfiguration())
        return;
    if (device->isExposureModeSupported(D::ExposureMode::continuousAutoExposure) &&
        device->isExposurePointOfInterestSupported()) {
        device->setExposurePointOfInterest(point);
        device->setExposureMode(D::ExposureMode::continuousAutoExposure);
    }
    if (device->isFocusModeSupported(D::FocusMode::autoFocus) &&
        device->isFocusPointOfInterestSupported()) {
        device->setFocusPointOfInterest(point);
        device->setFocusMode(D::FocusMode::autoFocus);
    }
    {
        std::lock_guard lock(mutex_);
        focusPoint_ = point;
    }
    device->unlockForConfiguration();
}

void PCaptureSession::stopCapture() {
    stopRequested_ = true;
    queue_->async(platform::weakly(this, [](PCaptureSession& me) { me.stopCaptureDef(); }));
}

void PCaptureSession::stopCapturePrivateSync() {
    const auto me = self();
    stopRequested_ = true;
    if (platform::DispatchQueue::getCurrentSpecific(captureQueueKey()) == this)
        return me->stopCaptureDef();
    queue_->sync([me] { me->stopCaptureDef(); });
}

void PCaptureSession::updateWriterAccordingCurrentOrientation() {
    queue_->async(platform::weakly(this, [](PCaptureSession& me) { me.updateOrientation(); }));
}

void PCaptureSession::stopCaptureDef() {
    if (state_ <= PCaptureSessionStateIdle) {
        stopRequested_ = false;
        return;
    }
    PLOG_INFO(PLog_Capture, "PLog_Capture Stop capture");
    // A recording's files are finished here, also when its stop was asked for but has not run
    // yet (a host told of a failure stops the recording while the failure's stop is queued).
    const bool recordingStopPending = state_ == PCaptureSessionStateStopping &&
                                      queuedState_ > PCaptureSessionStateStartingRecording;
    if (state_ > PCaptureSessionStateStartingRecording || recordingStopPending) {
        state_ = queuedState_ = PCaptureSessionStateStopping;
        finishWriters({});
        state_ = queuedState_ = PCaptureSessionStateCapturing;
    }
    const auto session = captureSession();
    // A stop the host asked for is final, even during an interruption; and a session that
    // already stopped (the system stops it during an interruption) posts nothing more, so
    // the stop is finished here.
    isInterrupted_ = false;
    const bool wasRunning = session && session->isRunning();
    if (session)
        session->stopRunning();
    for (const std::shared_ptr<platform::CaptureDataOutput>& output :
         {std::static_pointer_cast<platform::CaptureDataOutput>(videoOutput_),
          std::static_pointer_cast<platform::CaptureDataOutput>(audioOutput_)})
        if (output)
            output->setSampleBufferDelegate({}, nullptr);
    if (metadataOutput_)
        metadataOutput_->setMetadataObjectsDelegate({}, nullptr);
    videoOutput_.reset();
    audioOutput_.reset();
    metadataOutput_.reset();
    if (!wasRunning)
        finishStop();
}

void PCaptureSession::sessionStarted() {
    PLOG_INFO(PLog_Capture, "PLog_Capture Started capturing");
    // Only a start in progress becomes capturing. A session the system stopped during an
    // interruption runs again when it ends, and a recording (or its stop) in progress then
    // goes on: set to capturing, its writers would never be finished.
    int starting = PCaptureSessionStateStarting;
    queuedState_.compare_exchange_strong(starting, PCaptureSessionStateCapturing);
    starting = PCaptureSessionStateStarting;
    state_.compare_exchange_strong(starting, PCaptureSessionStateCapturing);
}

void PCaptureSession::sessionStopped(const platform::Object* sender) {
    PLOG_INFO(PLog_Capture, "PLog_Capture Stoped capturing");
    queue_->async(platform::weakly(this, [sender](PCaptureSession& me) {
        if (me.captureSession().get() != sender)
            return;  // a session given up already, whose late news must not end a newer one
        if (me.isInterrupted_) {
            me.isInterrupted_ = false;
            return;
        }
        me.finishStop();
    }));
}

void PCaptureSession::interruptionEnded(const platform::Object* sender) {
    queue_->async(platform::weakly(this, [sender](PCaptureSession& me) {
        const auto session = me.captureSession();
        if (!session || session.get() != sender)
            return;
        // Left set, the flag would make the host's next stop look like the interruption's and
        // keep the object capturing for ever.
        me.isInterrupted_ = false;
        // A stop the host asked for outlasts the interruption: the camera stays off.
        if (me.state_ == PCaptureSessionStateIdle || me.stopRequested_)
            return;
        // The session was kept through the interruption for this: the camera comes back.
        if (!session->isRunning())
            session->startRunning();
    }));
}

void PCaptureSession::finishStop() {
    // Stopped for good under a recording (the host stopped the platform session itself): the
    // files are finished and kept, as a stop of capture keeps them. Dropped unfinished, each
    // writer would remove its file.
    if (queuedState_ == PCaptureSessionStatePaused || queuedState_ == PCaptureSessionStateRecording)
        finishWriters({});
    cleanSession();
    state_ = queuedState_ = PCaptureSessionStateIdle;
    stopRequested_ = false;
}

void PCaptureSession::finishWriters(std::function<void()> done) {
    if (writers_.empty()) {
        if (done)
            done();
        return;
    }
    auto remaining = std::make_shared<std::atomic<std::size_t>>(writers_.size());
    for (const auto& [name, entry] : writers_) {
        finishing_->count.fetch_add(1);
        finishing_->group.enter();
        entry.writer->finishWriting([remaining, queue = queue_, done, finishing = finishing_] {
            finishing->count.fetch_sub(1);
            finishing->group.leave();
            if (remaining->fetch_sub(1) == 1 && done)
                queue->async(done);
        });
    }
}

void PCaptureSession::whenFilesFinished(std::function<void()> completion) {
    if (completion)
        finishing_->group.notify(queue_, std::move(completion));
}

void PCaptureSession::cleanSession() {
    for (auto& [name, entry] : writers_)
        if (entry.statusObservation)
            entry.statusObservation->invalidate();
    writers_.clear();
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations;
    platform::CaptureSessionPtr session;
    {
        std::lock_guard lock(mutex_);
        // The first registration is the orientation observer, which stays.
        if (registrations_.size() > 1)
            registrations.assign(registrations_.begin() + 1, registrations_.end());
        registrations_.resize(std::min<std::size_t>(registrations_.size(), 1));
        session = std::move(session_);
    }
    for (const auto& registration : registrations) registration->remove();
    if (session)
        for (const auto& input : session->inputs()) session->removeInput(input);
}

// ---- recording

void PCaptureSession::startRecordingWithFileNamePattern(
    const std::string& pattern, const std::vector<std::string>& resolutions) {
    queue_->async(platform::weakly(this, [pattern, resolutions](PCaptureSession& me) {
        if (me.queuedState_ != PCaptureSessionStateCapturing)
            return;
        me.startedWithAudioOnlyAndStillAudioOnly_ = me.captureMode() == PCaptureModeAudioOnly;
        me.lastFrameTimeForCapture_ = me.lastSoundFrameTime_ = me.lastFrameTimeForWriter_ =
            me.lastSoundFrameTimeCapture_ = MediaTime::zero();
        PLOG_INFO(PLog_Capture, "PLog_Capture Starting recording");
        me.fileNames_.clear();
        for (auto& [name, entry] : me.writers_)
            if (entry.statusObservation)
                entry.statusObservation->invalidate();
        me.writers_.clear();
        me.activeResolutions_ = resolutions;
        for (const auto& resolution : resolutions)
            me.fileNames_[resolution] = fileNameFor(pattern, resolution);
        if (resolutions.empty() || me.fileNames_[resolutions.front()].empty())
            return;
        const platform::Date started = platform::Date::now();
        me.state_ = me.queuedState_ = PCaptureSessionStateStartingRecording;
        for (const auto& resolution : resolutions) me.setWriterForResolution(resolution);
        for (const auto& [name, entry] : me.writers_) {
            if (!entry.writer->startWriting()) {
                const auto error = entry.writer->error();
                PLOG_INFO(PLog_Capture, "PLog_Capture Writer could not be started - %s",
                          error ? error->description().c_str() : "");
                return;
            }
        }
        PLOG_INFO(PLog_Capture, "PLog_Capture Recording started in %f",
                  platform::Date::now().timeIntervalSince(started));
        me.state_ = me.queuedState_ = PCaptureSessionStateRecording;
    }));
}

void PCaptureSession::setWriterForResolution(const std::string& resolution) {
    // Two writers on one path (a pattern without "%@", a resolution named twice) would each
    // truncate the file and interleave their frames in it: the first keeps the file.
    const std::string& path = fileNames_[resolution];
    for (const auto& [name, entry] : writers_) {
        if (fileNames_[name] == path) {
            PLOG_INFO(PLog_Capture, "PLog_Capture Failed to initialize writer - %s",
                      (path + " is already the file of " + name).c_str());
            return;
        }
    }
    platform::Error error;
    auto writer = platform::AssetWriter::make(platform::URL::fileURLWithPath(path),
                                              platform::AssetWriter::fileTypeMPEG4, &error);
    if (!writer) {
        PLOG_INFO(PLog_Capture, "PLog_Capture Failed to initialize writer - %s",
                  error.description().c_str());
        return;
    }
    const auto rect = rectToRecord();
    const auto* row = tableOf(resolution);
    platform::AssetWriterInput::VideoSettings video;
    video.width = static_cast<int>(static_cast<float>(rect.size.width));
    video.height = static_cast<int>(static_cast<float>(rect.size.height));
    video.averageBitRate = row ? row->bitRate : 0;
    video.profileLevel = platform::AssetWriterInput::profileH264HighAutoLevel;
    video.maxKeyFrameInterval = 30;
    video.cleanAperture = platform::AssetWriterInput::CleanAperture{
        rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
    Writer entry;
    entry.writer = writer;
    entry.video = platform::AssetWriterInput::make(video);
    entry.video->setExpectsMediaDataInRealTime(true);
    entry.video->setPerformsMultiPassEncodingIfSupported(true);
    writer->add(entry.video);
    entry.adaptor = platform::AssetWriterInputPixelBufferAdaptor::make(
        entry.video,
        platform::Dictionary{
            {platform::AssetWriterInputPixelBufferAdaptor::pixelFormatTypeKey, platform::Value(32)},
            {platform::AssetWriterInputPixelBufferAdaptor::cgImageCompatibilityKey,
             platform::Value(true)},
            {platform::AssetWriterInputPixelBufferAdaptor::bitmapContextCompatibilityKey,
             platform::Value(true)}});
    {
        std::lock_guard lock(placeholderMutex_);
        micPixelBuffer_.reset();
    }
    platform::AssetWriterInput::AudioSettings audio;
    audio.sampleRate = 44100;
    audio.channels = 2;
    audio.channelLayout.assign(32, 0);
    audio.channelLayout[0] = 0x02;  // the stereo tag, (101 << 16) | 2, little-endian
    audio.channelLayout[2] = 0x65;
    entry.audio = platform::AssetWriterInput::make(audio);
    entry.audio->setExpectsMediaDataInRealTime(true);
    writer->add(entry.audio);
    entry.statusObservation = writer->observe(
        platform::AssetWriter::statusKey, 0,
        platform::weakly(this, [observed = std::weak_ptr(writer)](PCaptureSession& me,
                                                                  const platform::KVOChange&) {
            // by hand: the writer is a second object held weakly, looked at inside the hop
            if (auto changed = observed.lock())
                me.writerStatusChanged(changed);
        }));
    writers_[resolution] = std::move(entry);
}

void PCaptureSession::writerStatusChanged(const platform::AssetWriterPtr& writer) {
    if (writer->status() != platform::AssetWriter::Status::failed)
        return;
    const auto error = writer->error().value_or(platform::Error());
    platform::DispatchQueue::main()->async(platform::weakly(this, [error](PCaptureSession& me) {
        if (auto delegate = me.delegate())
            delegate->captureSessionFailedWithError(me, error);
    }));
}

void PCaptureSession::pauseRecording() {
    moveRecordingState(PCaptureSessionStateRecording, PCaptureSessionStatePaused,
                       "PLog_Capture Pause recording");
}

void PCaptureSession::continueRecording() {
    moveRecordingState(PCaptureSessionStatePaused, PCaptureSessionStateRecording,
                       "PLog_Capture Continue recording");
}

void PCaptureSession::moveRecordingState(int from, int to, const char* logLine) {
    if (!state_.compare_exchange_strong(from, to))
        return;
    queue_->async(platform::weakly(this, [to, logLine](PCaptureSession& me) {
        PLOG_INFO(PLog_Capture, "%s", logLine);
        me.queuedState_ = to;
    }));
}

void PCaptureSession::stopRecordingWithCompletionBlock(std::function<void()> completion) {
    if (state_ < PCaptureSessionStatePaused) {
        // Files still being finished (capture stopped under a recording) are waited for: the
        // answer means that the recording is complete on disk.
        if (finishing_->count.load() > 0)
            whenFilesFinished(std::move(completion));
        else if (completion)
            completion();
        return;
    }
    state_ = PCaptureSessionStateStopping;
    queue_->async(platform::weakly(this, [completion](PCaptureSession& me) {
        // Capture stopped first and finished the files as it stopped: nothing is left to stop
        // but to wait for them.
        if (me.queuedState_ < PCaptureSessionStatePaused)
            return me.whenFilesFinished(completion);
        PLOG_INFO(PLog_Capture, "PLog_Capture Stopping recording");
        me.queuedState_ = PCaptureSessionStateStopping;
        for (const auto& [name, entry] : me.writers_) entry.audio->markAsFinished();
        for (const auto& [name, entry] : me.writers_) entry.video->markAsFinished();
        const auto finished = platform::weakly(&me, [completion](PCaptureSession& session) {
            // Capture may have been stopped while the files were finishing: an idle object
            // stays idle, or it could never start again.
            int stopping = PCaptureSessionStateStopping;
            if (session.queuedState_.compare_exchange_strong(stopping,
                                                             PCaptureSessionStateCapturing))
                session.state_ = PCaptureSessionStateCapturing;
            if (completion)
                completion();
        });
        me.finishWriters(finished);
    }));
}

bool PCaptureSession::closeToIntegerTime(MediaTime time) {
    if (!time.isNumeric())
        return false;
    // Exactly, in media time: seconds in floating point would put 3.02322 s below the step.
    return time - closestIntegerTimer(time) < MediaTime(soundStep, soundTimescale);
}

MediaTime PCaptureSession::closestIntegerTimer(MediaTime time) {
    if (!time.isNumeric())
        return time;
    return MediaTime(time.value / time.timescale, 1);  // division truncates toward zero
}

void PCaptureSession::muteAudioInBuffer(platform::SampleBuffer& buffer) {
    if (auto* data = buffer.audioData())
        std::memset(data, 0, buffer.audioDataByteSize());
}

platform::PixelBufferPtr PCaptureSession::micPixelBuffer() {
    {
        std::lock_guard lock(placeholderMutex_);
        if (micPixelBuffer_)
            return micPixelBuffer_;
    }
    // Drawn outside the lock; of two callers racing, the first to finish is kept.
    auto made = pixelBufferFromImage(bundleImageNamed("recorder_btn_mic"),
                                     {placeholderSide, placeholderSide});
    std::lock_guard lock(placeholderMutex_);
    if (!micPixelBuffer_)
        micPixelBuffer_ = std::move(made);
    return micPixelBuffer_;
}

platform::PixelBufferPtr PCaptureSession::pixelBufferFromImage(const platform::ImagePtr& image,
                                                               platform::Size size) {
    const int width = static_cast<int>(size.width);
    const int height = static_cast<int>(size.height);
    auto context = platform::GraphicsContext::make(width, height);
    auto picture = platform::PixelBuffer::make(platform::PixelBuffer::Format::argb, width, height);
    if (!context || !picture)
        return nullptr;
    // The lilac field with the microphone in the middle; without the image (a host that
    // replaced the bundle) the field alone still tells the viewer there is no camera.
    context->fill(platform::ui::Rect::make(0, 0, width, height),
                  platform::ui::Color::make(156 / 255.0, 141 / 255.0, 1.0));
    if (image)
        context->drawImage(*image, platform::ui::Rect::make(208.25, 181.0, 63.5, 118.5));
    const auto drawn = context->makeImage();
    if (!drawn)
        return nullptr;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->baseAddress() + y * picture->bytesPerRow();
        for (int x = 0; x < width; ++x) {
            const auto pixel = drawn->pixelAt(x, y);
            std::uint8_t* to = row + static_cast<std::ptrdiff_t>(x) * 4;
            // ARGB with the alpha byte skipped: the picture is opaque.
            to[0] = 255;
            to[1] = pixel.red;
            to[2] = pixel.green;
            to[3] = pixel.blue;
        }
    }
    return picture;
}

void PCaptureSession::appendPicture(const platform::PixelBufferPtr& picture, MediaTime time) {
    // The renditions differ in bit rate, not in size: a camera picture of another size is
    // scaled once here, and each writer takes it as it is, rather than each scaling it again.
    if (!picture)
        return;
    platform::PixelBufferPtr scaled = picture;
    for (const auto& resolution : activeResolutions_) {
        const auto found = writers_.find(resolution);
        if (found == writers_.end())
            continue;
        // A writer that failed never becomes ready again: skip it rather than wait.
        if (!found->second.video->isReadyForMoreMediaData())
            continue;
        const auto& size = found->second.video->videoSettings();
        if (size && picture->format() == platform::PixelBuffer::Format::nv12 &&
            (scaled->width() != size->width || scaled->height() != size->height)) {
            auto made = recordingScaler_.scaledToFill(picture, size->width, size->height);
            scaled = made ? made : picture;
        }
        found->second.adaptor->append(scaled, time);
    }
}

void PCaptureSession::appendSound(const platform::SampleBufferPtr& sound) {
    for (const auto& [name, entry] : writers_)
        if (entry.audio->isReadyForMoreMediaData())
            entry.audio->append(sound);
}

void PCaptureSession::captureOutput(platform::CaptureOutput& output,
                                    const platform::SampleBufferPtr& sample,
                                    platform::CaptureConnection&) {
    if (queuedState_ < PCaptureSessionStateCapturing || !sample || !sample->isDataReady())
        return;
    if (videoOutput_ && &output == videoOutput_.get())
        handleVideo(sample);
    else if (audioOutput_ && &output == audioOutput_.get())
        handleAudio(sample);
}

void PCaptureSession::handleVideo(const platform::SampleBufferPtr& sample) {
    handlePicture(sample->presentationTimeStamp(), sample);
}

void PCaptureSession::placeholderPictureAt(MediaTime pts) {
    const bool due = queuedState_ != PCaptureSessionStateRecording ||
                     isZero(lastFrameTimeForWriter_) ||
                     pts - lastFrameTimeForCapture_ >= MediaTime(frameStep, microseconds);
    if (due)
        handlePicture(pts, nullptr);
}

void PCaptureSession::handlePicture(MediaTime pts, const platform::SampleBufferPtr& sample) {
    if (std::exchange(rejoinVideo_, false) && !isZero(lastFrameTimeForCapture_))
        lastFrameTimeForCapture_ = pts - MediaTime(frameStep, microseconds);
    if (queuedState_ == PCaptureSessionStateRecording) {
        if (isZero(lastFrameTimeForWriter_)) {
            lastFrameTimeForWriter_ = pts;
            for (const auto& [name, entry] : writers_) entry.writer->startSession(pts);
        } else {
            const MediaTime gap = pts - lastFrameTimeForCapture_;
            const auto n = static_cast<long>((static_cast<float>(gap.seconds()) + halfFramePeriod) /
                                             framePeriod);
            if (n > 1) {
                const auto filler = lastFrame_ && lastFrame_->imageBuffer()
                                        ? lastFrame_->imageBuffer()
                                        : micPixelBuffer();
                MediaTime t = lastFrameTimeForWriter_;
                for (long i = 1; i < n; ++i) {
                    t += MediaTime(frameStep, microseconds);
                    appendPicture(filler, t);
                }
            }
            lastFrameTimeForWriter_ += gap;
        }
        platform::PixelBufferPtr picture;
        if (hasVideoOutput_ && sample) {
            lastFrame_ = sample->copy();
            picture = lastFrame_->imageBuffer();
        } else if (!startedWithAudioOnlyAndStillAudioOnly_ && lastFrame_ &&
                   lastFrame_->imageBuffer()) {
            picture = lastFrame_->imageBuffer();
        } else {
            picture = micPixelBuffer();
        }
        appendPicture(picture, lastFrameTimeForWriter_);
    }
    lastFrameTimeForCapture_ = pts;
}

void PCaptureSession::handleAudio(const platform::SampleBufferPtr& sample) {
    const MediaTime pts = sample->presentationTimeStamp();
    // With no camera at all no picture would ever come, and sound waits for the first one:
    // the sound's own clock places the placeholder pictures instead.
    if (!hasVideoOutput_ && !cameraAttached_)
        placeholderPictureAt(pts);
    if (std::exchange(rejoinSound_, false) && !isZero(lastSoundFrameTimeCapture_))
        lastSoundFrameTimeCapture_ = pts - MediaTime(soundStep, soundTimescale);
    if (queuedState_ == PCaptureSessionStateRecording) {
        if (isZero(lastFrameTimeForWriter_))
            return;  // no picture yet: the sound has no place on the timeline
        if (isZero(lastSoundFrameTimeCapture_)) {
            lastSoundFrameTimeCapture_ = pts;
            lastSoundFrameTime_ = pts;
        } else {
            const MediaTime gap = pts - lastSoundFrameTimeCapture_;
            auto n = static_cast<long>((static_cast<float>(gap.seconds()) + halfSoundPeriod) /
                                       soundPeriod);
            std::int64_t step = n * soundStep;
            if (n >= 3) {
                const MediaTime compensated = gap + compensateTime_;
                n = static_cast<long>(
                    (static_cast<float>(compensated.seconds()) + halfSoundPeriod) / soundPeriod);
                step = n * soundStep;
                compensateTime_ = MediaTime(step, soundTimescale) - compensated;
                MediaTime t = lastSoundFrameTime_;
                for (long i = 1; i < n; ++i) {
                    t += MediaTime(soundStep, soundTimescale);
                    auto filler = sample->copyWithPresentationTime(t);
                    muteAudioInBuffer(*filler);
                    appendSound(filler);
                }
            }
            lastSoundFrameTime_ += MediaTime(step, soundTimescale);
        }
        appendSound(sample->copyWithPresentationTime(lastSoundFrameTime_));
    }
    lastSoundFrameTimeCapture_ = pts;
}

void PCaptureSession::captureOutput(platform::CaptureMetadataOutput&,
                                    const std::vector<platform::MetadataObject>& objects,
                                    platform::CaptureConnection&) {
    if (objects.empty() || objects.front().type != platform::MetadataObject::typeQRCode)
        return;
    const std::string& text = objects.front().stringValue;
    constexpr double repeatAfter = 4.0;
    const platform::Date now = platform::Date::now();
    if (lastQR_ == text && lastQRScanningDate_ &&
        now.timeIntervalSince(*lastQRScanningDate_) <= repeatAfter)
        return;
    if (auto delegate = this->delegate(); delegate && delegate->respondsToQROutput())
        delegate->captureSessionQROutput(*this, text);
    lastQR_ = text;
    lastQRScanningDate_ = now;
}

}  // namespace pindle::legacy
