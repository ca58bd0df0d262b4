// PNVideoImporter: saves an MP4 file from the device into the user's photo library. The
// file is first re-wrapped without re-encoding into a QuickTime movie beside it (same name,
// extension "mov"), which the library then takes in; the movie stays on disk afterwards.
// Authorisation is asked for when the user has not been asked yet.
//
// The three steps are virtual so that hosts and tests can replace any of them; the public
// entry points call the others through them.
//
// Thread-safety: keeps no state; safe from any thread. An importer must outlive the calls
// made on it. Each call's completion runs once, on
// whichever platform thread gives the answer (never moved to the main queue).
#pragma once

#include <functional>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNVideoImporter {
  public:
    using Completion = std::function<void(bool success, std::optional<platform::Error> error)>;

    virtual ~PNVideoImporter() = default;

    // Authorisation, then putToCameraRollInternal; (false, nothing) when access is refused,
    // denied or restricted.
    virtual void putToCameraRoll(const platform::URL& mp4, Completion completion);
    // Converts to the ".mov" beside the source, then asks the library to add it; (false,
    // the conversion's error) when converting fails, else the library's answer.
    virtual void putToCameraRollInternal(const platform::URL& mp4, Completion completion);
    // A passthrough export to a QuickTime movie: (true, nothing) when it completed; (false,
    // nothing) when no export can be made; else (false, the export's error). An existing
    // `mov` is never written over: the export fails instead.
    virtual void convert(const platform::URL& mp4, const platform::URL& mov, Completion completion);
};

}  // namespace pindle
