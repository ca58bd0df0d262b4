// DeviceChoiceLog: which backend the platform chose for each kind of device (camera,
// microphone, location, ...) and why, said once on standard error ("pindle: camera: ..."),
// where the display and the sound output say theirs.
//
// Each device kind is decided once per process, the first time something needs it; the
// first note for a kind is kept and logged, later ones are ignored, so a choice is never
// logged twice. A device that changes its answer later (a location service that refuses or
// goes away) revises its line, said once. `choices()` lets a host show them (the example
// host's `devices`).
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <map>
#include <string>

namespace pindle::platform {

class DeviceChoiceLog {
  public:
    DeviceChoiceLog() = delete;

    // Records `choice` (a sentence: what is used, and why when it is a fallback) for `kind`,
    // unless `kind` already has one. Returns whether it was recorded.
    static bool note(const std::string& kind, const std::string& choice);
    // Replaces what is recorded for `kind` with `choice` and says it, unless that is what is
    // recorded already. Returns whether it said anything.
    static bool revise(const std::string& kind, const std::string& choice);
    // Every choice recorded so far, by kind.
    static std::map<std::string, std::string> choices();
};

}  // namespace pindle::platform
