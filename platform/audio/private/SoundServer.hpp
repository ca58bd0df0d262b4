// SoundServer: the process's choice, made at run time, of where sound goes: the desktop's
// sound server when one answers, else nowhere (players play silently on the system clock).
// PINDLE_AUDIO=none chooses silence whatever is running; PINDLE_AUDIO=pulse (or nothing)
// the server libpulse finds. A silent choice is said once in the log, with its reason.
//
// The connection is made on the first call of shared(), never when the library loads, so a
// process that plays no sound never loads libpulse. A connection that has ended (the server
// went away) is said once in the log and dropped; the next shared() tries again.
//
// Private to the platform library.
//
// Thread-safety: all operations are safe from any thread. Observers run on the thread that
// called shared() or useServer() and caused the change, with no lock held.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio/private/PulseContext.hpp"

namespace pindle::platform {

class SoundServer {
  public:
    SoundServer() = delete;

    static constexpr const char* environmentVariable = "PINDLE_AUDIO";

    // The live connection sound goes through, connecting when there is none; null when the
    // process plays silently.
    static std::shared_ptr<pulse::PulseContext> shared();

    // True when PINDLE_AUDIO=none decides for silence (and no server was named); said once
    // in the log. Cheap: connects to nothing.
    static bool isSilentByChoice();

    // From now on plays through the server at `address` ("unix:/path/native"), whatever
    // PINDLE_AUDIO says; with nothing, returns to the environment's choice. The current
    // connection is dropped either way (players holding it keep it until they stop). For
    // tests of the real server and hosts that name their own.
    static void useServer(std::optional<std::string> address);

    // Calls `observer` with every new connection (and with the current one, made if need
    // be, before returning). The token removes it.
    static int addObserver(
        std::function<void(const std::shared_ptr<pulse::PulseContext>&)> observer);
    static void removeObserver(int token);
};

}  // namespace pindle::platform
