// PNSession: the SDK's one session with the backend.
//
// It keeps the tokens, the application identifier and the identity, and publishes every
// assignment of its state as PNAccountStateChanged (no object; user info {"sessionData": the
// last session reply}), posted synchronously on the assigning thread: the host's thread for
// starting and stopping, the requester's reply thread for started and failed, the main queue
// for an invalidation. Nothing of the session is persisted.
//
// Token modes: with secureModeEnabled the session token authorizes backend calls, otherwise
// the API token. start(apiToken:identity:) turns secure mode off, asks the backend for a
// session, and on a reply with a session token takes it and turns secure mode on.
//
// Each start has a generation: stop() and a newer start supersede a request in flight, whose
// late reply then changes nothing (its completion is still called once). A reply checks its
// generation and moves the state in one step, so a stop() is never overtaken by the reply it
// superseded, and no notification announces a state the session has already left after the
// one it is in.
//
// Posting "BADCREDENTIALS" on the default center (from any thread) invalidates the session on
// the main queue.
//
// Thread-safety: all operations are safe from any thread. The fields are guarded by one lock,
// which is never held while posting or calling a completion. Completions of starts run on the
// requester's reply thread, or synchronously on the caller's thread where noted.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/api/PNSessionState.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNSession : public platform::Object {
  public:
    using StartCompletion = std::function<void(PNSessionState, const platform::Dictionary&,
                                               const std::optional<platform::Error>&)>;
    using StateCompletion =
        std::function<void(PNSessionState, const std::optional<platform::Error>&)>;

    // Delay of a prolongation: 23.5 hours.
    static constexpr std::int64_t secondsToUpdateSession = 84600;

    // The process-wide session, created on first use (which starts the legacy part and
    // rebuilds the local video cache).
    static const std::shared_ptr<PNSession>& current();

    // Fields.
    std::optional<std::string> sessionToken() const;
    void setSessionToken(std::optional<std::string> token);
    std::optional<std::string> apiToken() const;
    void setApiToken(std::optional<std::string> token);
    bool secureModeEnabled() const;
    void setSecureModeEnabled(bool enabled);
    std::optional<std::string> appID() const;
    void setAppID(std::optional<std::string> appID);
    std::optional<std::string> accountId() const;
    void setAccountId(std::optional<std::string> accountId);
    std::optional<platform::Date> expiresAt() const;
    void setExpiresAt(std::optional<platform::Date> date);
    std::optional<platform::Date> createdAt() const;
    void setCreatedAt(std::optional<platform::Date> date);
    std::string identity() const;
    void setIdentity(std::string identity);
    PNSessionState state() const;
    // Every assignment posts PNAccountStateChanged, also one that repeats the current state,
    // unless another assignment overtakes it before it is posted; assigning `stopped` then
    // clears `error`.
    void setState(PNSessionState state);
    std::optional<platform::Error> error() const;
    void setError(std::optional<platform::Error> error);

    // Takes a session token the host already holds: secure mode on, state started at once,
    // without a request.
    void start(std::string sessionToken);
    // Starts a session from the API token and identity. The completion, when given, runs once
    // on the requester's reply thread with the state, the reply and the error.
    void start(std::string apiToken, std::string identity, StartCompletion completion = {});
    // Starts again from the held tokens unless starting or started (then the completion runs at
    // once with the state and no error, whatever tokens are held). Otherwise, without the
    // token-mode invariant, an application identifier or an API token to start from, it
    // completes at once with the state and sessionNotStarted.
    void startSession(StateCompletion completion = {});
    void stopSession();
    // Stops the session and resets the legacy part's current state; nothing when stopped.
    void stop();
    // Records authenticationFailed and moves to failed.
    void invalidate();

    // Only the library calls these: the start routine that probes the backend and connects the
    // live notifications, and the prolongation of the session.
    void startSessionRoutine(StateCompletion completion = {});
    void scheduleProlong();

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit PNSession(Private);
    PNSession(const PNSession&) = delete;
    PNSession& operator=(const PNSession&) = delete;

  private:
    void prolong();
    void startSessionPrivate(StateCompletion completion, bool force);
    void handleStartReply(std::uint64_t generation, const platform::Dictionary& reply,
                          std::optional<platform::Error> error, const StartCompletion& completion);
    // True when the token-mode invariant holds. REQUIRES: mutex_ held.
    bool tokenModeIsConsistent() const;
    // Sets the state; returns the number of this assignment. REQUIRES: mutex_ held.
    std::uint64_t assignStateLocked(PNSessionState state);
    // Posts PNAccountStateChanged for an assignment unless a later one has been made (that
    // one posts instead); clears the error after a stop. REQUIRES: mutex_ not held.
    void postState(std::uint64_t assignment, PNSessionState state);
    std::uint64_t supersedeRequestInFlight();

    mutable std::mutex mutex_;
    std::optional<std::string> sessionToken_;         // guarded by mutex_
    std::optional<std::string> apiToken_;             // guarded by mutex_
    bool secureModeEnabled_ = true;                   // guarded by mutex_
    std::optional<std::string> appID_;                // guarded by mutex_
    std::optional<std::string> accountId_;            // guarded by mutex_
    std::optional<platform::Date> expiresAt_;         // guarded by mutex_
    std::optional<platform::Date> createdAt_;         // guarded by mutex_
    std::string identity_;                            // guarded by mutex_
    platform::Dictionary sessionData_;                // guarded by mutex_
    PNCancellablePtr sessionInitialization_;          // guarded by mutex_
    PNSessionState state_ = PNSessionState::stopped;  // guarded by mutex_
    std::optional<platform::Error> error_;            // guarded by mutex_
    std::uint64_t generation_ = 0;                    // guarded by mutex_
    std::uint64_t stateAssignments_ = 0;              // guarded by mutex_

    std::atomic<std::int32_t> prolongRequests_{0};
};

}  // namespace pindle
