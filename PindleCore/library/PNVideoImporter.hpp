// PNVideoImporter: saves an MP4 file from the device into the user's photo library. The
// file is first re-wrapped without re-encoding into a QuickTime movie beside it (same name,
// extension "mov"), which the library then takes in; the movie stays on disk afterwards.
// Authorisation is asked for when the user has not been asked yet.
//
// The three steps are virtual so that hosts and tests can replace any of them; the public
// entry points call the others through them.
//
// Lifetime: the authorisation answer comes later, on another thread. An importer held by a
// std::shared_ptr is kept alive by its calls until their answers are in. One held otherwise
// (on the stack, as a member) is used by the answer only while its destruction has not begun,
// and its destructor waits for such a use (the start of the next step) to return; once it is
// destroyed, the call's completion gets (false, nothing) without the importer. A subclass held
// otherwise that overrides a step calls detachFromPendingAnswers() first in its destructor, so
// that no answer reaches it half destroyed.
//
// Thread-safety: keeps no state between calls; safe from any thread. Each call's completion
// runs once, on whichever platform thread gives the answer (never moved to the main queue).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle {

class PNVideoImporter : public std::enable_shared_from_this<PNVideoImporter> {
  public:
    using Completion = std::function<void(bool success, std::optional<platform::Error> error)>;

    PNVideoImporter() = default;
    PNVideoImporter(const PNVideoImporter&) = delete;
    PNVideoImporter& operator=(const PNVideoImporter&) = delete;
    virtual ~PNVideoImporter();

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

  protected:
    // From then on, answers still to come go on without this importer. Waits for one that is
    // using it to let go. Called by the destructor; idempotent.
    void detachFromPendingAnswers();

  private:
    // Shared with the answers still to come: whether the importer may be used, held while it is.
    struct Lifeline {
        std::mutex mutex;
        bool alive = true;  // guarded by mutex
    };
    const std::shared_ptr<Lifeline> lifeline_ = std::make_shared<Lifeline>();
};

}  // namespace pindle
