#include "examples/pindle-example/DeviceChoice.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/capture/CaptureDevice.hpp"
#include "platform/capture/CaptureHardware.hpp"
#include "platform/capture/LinuxCamera.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/display/Display.hpp"
#include "platform/location/LocationManager.hpp"
#include "platform/location/LocationSource.hpp"
#include "platform/log/DeviceChoiceLog.hpp"

namespace pindle::example {

namespace {

// How long `devices` waits for the location service to answer a request for positions: the
// location service's own time-out for a call, and a margin.
constexpr double locationPatience = 3;

// A session's largest picture size, which the check opens the camera for.
constexpr int checkWidth = 960;
constexpr int checkHeight = 540;

const char* positionName(platform::CaptureDevicePosition position) {
    switch (position) {
        case platform::CaptureDevicePosition::back:
            return "back";
        case platform::CaptureDevicePosition::front:
            return "front";
        case platform::CaptureDevicePosition::unspecified:
            break;
    }
    return "unspecified";
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The platform's own choice for `kind` when it has made one in this process; else what the
// environment says it would find.
std::string choiceOf(const std::string& kind, const std::string& guess) {
    const auto choices = platform::DeviceChoiceLog::choices();
    const auto found = choices.find(kind);
    return found != choices.end() ? found->second : guess;
}

std::string soundServerGuess(const char* forcedBy) {
    if (environment(forcedBy) == "none")
        return std::string("no sound (") + forcedBy + "=none)";
    std::string socket = environment("PULSE_SERVER");
    if (socket.empty() && !environment("XDG_RUNTIME_DIR").empty())
        socket = environment("XDG_RUNTIME_DIR") + "/pulse/native";
    struct stat info {};
    if (!socket.empty() && ::stat(socket.c_str(), &info) == 0)
        return "the sound server at " + socket;
    return "no sound server found (" +
           (socket.empty() ? std::string("XDG_RUNTIME_DIR unset") : "nothing at " + socket) + ")";
}

// The display the platform chooses, asked of it (a DISPLAY may name no server at all).
std::string displayChoice() {
    const bool desktop = platform::Display::kind() == platform::Display::Kind::desktop;
    return (desktop ? "desktop (" : "headless (") + platform::Display::reason() + ")";
}

// Hears whether the location service has answered anything at all.
class FirstAnswer : public platform::LocationManagerDelegate {
  public:
    void didUpdateLocations(platform::LocationManager&,
                            const std::vector<platform::Location>&) override {
        answered = true;
    }
    void didFailWithError(platform::LocationManager&, const platform::Error&) override {
        answered = true;
    }
    void didChangeAuthorizationStatus(platform::LocationManager&,
                                      platform::AuthorizationStatus) override {
        answered = true;
    }
    bool answered = false;  // main thread only
};

// What the location service is. The desktop's agent refuses only when asked for positions,
// so a service that seems willing is asked, and has until `locationPatience` to answer.
std::string locationChoice() {
    const auto source = platform::LocationSource::current();
    if (source->locationServicesEnabled() &&
        source->authorizationStatus() != platform::AuthorizationStatus::denied) {
        auto manager = platform::LocationManager::make();
        auto answer = std::make_shared<FirstAnswer>();
        manager->setDelegate(answer);
        manager->startUpdatingLocation();
        platform::MainThread::runUntil([&] { return answer->answered; }, locationPatience);
        manager->stopUpdatingLocation();
    }
    return source->description();
}

}  // namespace

int DeviceChoice::list(JsonLines& out) {
    // The display and the location service answer on the main thread.
    if (!platform::MainThread::adoptCurrentThread() && !platform::MainThread::isMainThread()) {
        out.print({{"command", "devices"},
                   {"ok", false},
                   {"error", JsonLines::error(
                                 platform::Error("pindle-example", 1,
                                                 {{platform::Error::localizedDescriptionKey,
                                                   "the main queue runs on another thread"}}))}});
        return 1;
    }
    auto& hardware = platform::CaptureHardware::shared();
    if (hardware.usesRealCameras()) {
        for (const auto& camera : hardware.realCameras()) {
            Json modes = Json::array();
            for (const auto& mode : camera->modes()) modes.push_back(mode.description());
            Json line = {{"device", camera->path()},
                         {"name", camera->name()},
                         {"position", positionName(camera->position())},
                         {"modes", modes}};
            if (camera->isDenied())
                line["denied"] = camera->deniedWhy();
            out.print({{"camera", line}});
        }
    }
    out.print({{"cameras", hardware.cameraChoice()}});
    out.print({{"microphone", hardware.hasMicrophone() ? hardware.microphoneChoice()
                                                       : std::string("no microphone")}});
    out.print({{"soundOutput", choiceOf("sound", soundServerGuess("PINDLE_AUDIO"))}});
    out.print({{"display", displayChoice()}});
    out.print({{"location", locationChoice()}});
    out.print({{"command", "devices"}, {"ok", true}});
    return 0;
}

std::optional<std::string> DeviceChoice::prepareRecording(const CommandLine& line) {
    auto& hardware = platform::CaptureHardware::shared();
    if (line.synthetic) {
        hardware.useSyntheticCameras("--synthetic");
        hardware.useSyntheticMicrophone("--synthetic");
        return std::nullopt;
    }
    std::string why;
    struct stat info {};
    if (line.camera && ::stat(line.camera->c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        // The mode only serves the negotiation: the movie's pictures are cropped and scaled to
        // what the session asks, whatever their size.
        hardware.useRealCameras({platform::LinuxCamera::fromFile(
            *line.camera, *line.camera, {{"YU12", checkWidth, checkHeight, 30}})});
        hardware.useSyntheticMicrophone("a movie stands in for the camera");
    } else if (line.camera && !hardware.selectCamera(*line.camera, &why)) {
        return "camera " + *line.camera + ": " + why;
    }
    const auto device = platform::CaptureDevice::camera(platform::CaptureDevicePosition::back);
    const auto camera = device ? device->linuxCamera() : nullptr;
    if (!camera)
        return std::nullopt;  // the synthetic cameras: nothing to open
    platform::Error error;
    if (!camera->canStream(checkWidth, checkHeight, &error))
        return "camera " + camera->path() + ": " + error.localizedDescription();
    return std::nullopt;
}

}  // namespace pindle::example
