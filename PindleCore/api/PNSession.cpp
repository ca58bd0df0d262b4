#include "PindleCore/api/PNSession.hpp"

#include "PindleCore/api/PNSessionAPI.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/api/private/PNLiveNotificationsLink.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/legacy/PSystem.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/model/private/PNSessionContext.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

constexpr const char* badCredentialsNotification = "BADCREDENTIALS";

std::optional<std::string> stringMember(const platform::Dictionary& reply, const char* key) {
    auto it = reply.find(key);
    if (it == reply.end() || !it->second.asString())
        return std::nullopt;
    return *it->second.asString();
}

platform::Error sessionNotStarted() {
    return PNError(PNError::sessionNotStarted);
}

// The model reads the session of the moment through this, since it may not include the session.
class CurrentSessionContext final : public PNSessionContext {
  public:
    std::optional<std::string> appID() const override { return PNSession::current()->appID(); }
    bool started() const override {
        return PNSession::current()->state() == PNSessionState::started;
    }
    std::optional<std::string> sessionToken() const override {
        return PNSession::current()->sessionToken();
    }
    std::optional<std::string> apiToken() const override {
        return PNSession::current()->apiToken();
    }
};

// Installed as the library loads: the model asks for the session before any host call can.
[[maybe_unused]] const bool sessionContextInstalled = [] {
    PNSessionContext::install(std::make_shared<CurrentSessionContext>());
    return true;
}();

}  // namespace

PNSession::PNSession(Private) {}

const std::shared_ptr<PNSession>& PNSession::current() {
    // Never destroyed: replies and timers may still reach the session at exit.
    static const auto* session = [] {
        auto* created = new std::shared_ptr<PNSession>(std::make_shared<PNSession>(Private{}));
        // Neither of these may read PNSession::current(): it is still being created.
        legacy::PSystem::launch(PNTokenObject::sharedInstance());
        PNLocalVideoCache::shared().resetCache();
        platform::NotificationCenter::defaultCenter().addObserverForName(
            badCredentialsNotification, nullptr, platform::DispatchQueue::main(),
            [session = *created](const platform::Notification&) { session->invalidate(); });
        return created;
    }();
    return *session;
}

// --- Fields ---------------------------------------------------------------------------------

#define PINDLE_SESSION_FIELD(Type, getter, setter, member) \
    Type PNSession::getter() const {                       \
        std::lock_guard lock(mutex_);                      \
        return member;                                     \
    }                                                      \
    void PNSession::setter(Type value) {                   \
        std::lock_guard lock(mutex_);                      \
        member = std::move(value);                         \
    }

PINDLE_SESSION_FIELD(std::optional<std::string>, sessionToken, setSessionToken, sessionToken_)
PINDLE_SESSION_FIELD(std::optional<std::string>, apiToken, setApiToken, apiToken_)
PINDLE_SESSION_FIELD(bool, secureModeEnabled, setSecureModeEnabled, secureModeEnabled_)
PINDLE_SESSION_FIELD(std::optional<std::string>, appID, setAppID, appID_)
PINDLE_SESSION_FIELD(std::optional<std::string>, accountId, setAccountId, accountId_)
PINDLE_SESSION_FIELD(std::optional<platform::Date>, expiresAt, setExpiresAt, expiresAt_)
PINDLE_SESSION_FIELD(std::optional<platform::Date>, createdAt, setCreatedAt, createdAt_)
PINDLE_SESSION_FIELD(std::string, identity, setIdentity, identity_)
PINDLE_SESSION_FIELD(std::optional<platform::Error>, error, setError, error_)

#undef PINDLE_SESSION_FIELD

PNSessionState PNSession::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void PNSession::setState(PNSessionState state) {
    std::uint64_t assignment = 0;
    {
        std::lock_guard lock(mutex_);
        assignment = assignStateLocked(state);
    }
    postState(assignment, state);
}

std::uint64_t PNSession::assignStateLocked(PNSessionState state) {
    state_ = state;
    return ++stateAssignments_;
}

void PNSession::postState(std::uint64_t assignment, PNSessionState state) {
    platform::Dictionary sessionData;
    bool superseded = false;
    {
        std::lock_guard lock(mutex_);
        // A later assignment posts for itself; posting this one now could announce a state
        // the session has already left, after the one it is in.
        superseded = assignment != stateAssignments_;
        sessionData = sessionData_;
    }
    if (!superseded) {
        platform::NotificationCenter::defaultCenter().post(
            NotificationName::PNAccountStateChanged, {}, {{"sessionData", std::move(sessionData)}});
    }
    // Observers of the notification still see the error of the state being left.
    if (state == PNSessionState::stopped)
        setError(std::nullopt);
}

bool PNSession::tokenModeIsConsistent() const {
    return secureModeEnabled_ ? (sessionToken_ && !apiToken_) : (apiToken_ && !sessionToken_);
}

std::uint64_t PNSession::supersedeRequestInFlight() {
    std::lock_guard lock(mutex_);
    return ++generation_;
}

// --- Starting and stopping ------------------------------------------------------------------

void PNSession::start(std::string sessionToken) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        secureModeEnabled_ = true;
        sessionToken_ = std::move(sessionToken);
    }
    setState(PNSessionState::started);
}

void PNSession::start(std::string apiToken, std::string identity, StartCompletion completion) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
        secureModeEnabled_ = false;
        apiToken_ = std::move(apiToken);
        sessionToken_.reset();
        identity_ = identity;
    }
    setState(PNSessionState::starting);

    PNCancellablePtr request = PNSessionAPI::shared().session(
        identity, platform::weakly(this, [generation, completion](
                                             PNSession& self, const platform::Dictionary& reply,
                                             const std::optional<platform::Error>& error) {
            self.handleStartReply(generation, reply, error, completion);
        }));
    std::lock_guard lock(mutex_);
    sessionInitialization_ = std::move(request);
}

void PNSession::handleStartReply(std::uint64_t generation, const platform::Dictionary& reply,
                                 std::optional<platform::Error> error,
                                 const StartCompletion& completion) {
    std::optional<std::string> token = stringMember(reply, "sessionToken");
    // A reply that grants no session cannot leave the session starting for ever.
    if (!error && !token)
        error = PNError(PNError::unknown).toPlatformError();
    bool stale = false;
    const PNSessionState outcome = error ? PNSessionState::failed : PNSessionState::started;
    std::uint64_t assignment = 0;
    {
        std::lock_guard lock(mutex_);
        stale = generation != generation_;
        if (!stale) {
            // The state moves in the same step as the check, so that a stop() cannot come in
            // between and be overtaken by the reply it superseded.
            assignment = assignStateLocked(outcome);
            sessionData_ = error ? platform::Dictionary{} : reply;
            if (!error) {
                if (auto id = stringMember(reply, "id"))
                    appID_ = id;
                if (auto text = stringMember(reply, "createdAt")) {
                    if (auto date = parseDate(*text))
                        createdAt_ = date;
                }
                if (auto text = stringMember(reply, "expiresAt")) {
                    if (auto date = parseDate(*text))
                        expiresAt_ = date;
                }
                if (auto identity = stringMember(reply, "identity"))
                    identity_ = *identity;
                // Taking the token is start(sessionToken:) without superseding this start.
                secureModeEnabled_ = true;
                sessionToken_ = token;
            }
        }
    }
    if (stale) {
        // A stop or a newer start has taken over: this reply changes nothing.
        if (completion)
            completion(state(), error ? platform::Dictionary{} : reply, error);
        return;
    }
    postState(assignment, outcome);
    if (error) {
        if (completion)
            completion(PNSessionState::failed, {}, error);
        return;
    }
    if (completion)
        completion(state(), reply, std::nullopt);
}

void PNSession::startSession(StateCompletion completion) {
    // A session that is starting or started answers with its state whatever tokens it holds:
    // after a start from the API token both tokens are held until the host clears one.
    const PNSessionState current = state();
    if (current == PNSessionState::starting || current == PNSessionState::started) {
        if (completion)
            completion(current, std::nullopt);
        return;
    }
    bool usable = false;
    {
        std::lock_guard lock(mutex_);
        usable = tokenModeIsConsistent() && appID_.has_value();
    }
    if (!usable) {
        if (completion)
            completion(state(), sessionNotStarted());
        return;
    }
    startSessionPrivate(std::move(completion), false);
}

void PNSession::startSessionPrivate(StateCompletion completion, bool force) {
    PNSessionState current = state();
    if (!force && (current == PNSessionState::starting || current == PNSessionState::started)) {
        if (completion)
            completion(current, std::nullopt);
        return;
    }
    std::optional<std::string> token;
    std::string identity;
    {
        std::lock_guard lock(mutex_);
        token = apiToken_;
        identity = identity_;
    }
    if (!token) {
        if (completion)
            completion(current, sessionNotStarted());
        return;
    }
    StartCompletion onStarted;
    if (completion) {
        onStarted = [completion](PNSessionState state, const platform::Dictionary&,
                                 const std::optional<platform::Error>& error) {
            completion(state, error);
        };
    }
    start(*token, identity, std::move(onStarted));
}

void PNSession::stopSession() {
    stop();
}

void PNSession::stop() {
    std::uint64_t assignment = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_ == PNSessionState::stopped)
            return;
        ++generation_;
        assignment = assignStateLocked(PNSessionState::stopped);
    }
    legacy::PSystem::resetCurrentState(PNTokenObject::sharedInstance());
    postState(assignment, PNSessionState::stopped);
}

void PNSession::invalidate() {
    setError(PNError(PNError::authenticationFailed).toPlatformError());
    setState(PNSessionState::failed);
}

// --- The start routine and the prolongation -------------------------------------------------

void PNSession::startSessionRoutine(StateCompletion completion) {
    setState(PNSessionState::starting);
    std::shared_ptr<PNSession> self = std::static_pointer_cast<PNSession>(shared_from_this());
    PNVideoAPI::shared().videosByTags(
        {}, {}, 1, 1, "asc",
        [self, completion](const std::shared_ptr<PNVideosResponse>& response,
                           const std::optional<platform::Error>& error) {
            if (response && !error) {
                platform::StandardOutput::writeLine("[Pinlet] Session started!");
                self->setState(PNSessionState::started);
                self->setError(std::nullopt);
                PNLiveNotificationsLink::connect();
            } else {
                platform::StandardOutput::writeLine("[Pinlet] Session failed!");
                self->setState(PNSessionState::failed);
                self->setError(error);
            }
            if (completion)
                completion(self->state(), self->error());
        });
}

void PNSession::scheduleProlong() {
    ++prolongRequests_;
    std::shared_ptr<PNSession> self = std::static_pointer_cast<PNSession>(shared_from_this());
    platform::DispatchQueue::global(platform::DispatchQoS::background)
        ->asyncAfter(static_cast<double>(secondsToUpdateSession), [self] { self->prolong(); });
}

void PNSession::prolong() {
    if (state() != PNSessionState::started && --prolongRequests_ <= 0)
        return;
    startSessionPrivate({}, true);
}

}  // namespace pindle
