#include "platform/audio/private/SoundServer.hpp"

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/log/StandardError.hpp"

namespace pindle::platform {

namespace {

using ContextPtr = std::shared_ptr<pulse::PulseContext>;
using Observer = std::function<void(const ContextPtr&)>;

// A server that did not answer is asked again after this long, not on every play.
constexpr auto retryAfter = std::chrono::seconds(5);
constexpr const char* clientName = "Pindle";

// Never destroyed: players on other threads may still ask at exit.
struct State {
    std::mutex mutex;
    ContextPtr context;                               // guarded by mutex
    std::optional<std::string> override_;             // guarded by mutex
    std::optional<Clock::Duration> lastFailure;       // guarded by mutex
    std::string saidReason;                           // guarded by mutex; the silence last logged
    std::vector<std::pair<int, Observer>> observers;  // guarded by mutex
    int nextToken = 1;                                // guarded by mutex
    // Serialises connection attempts without holding `mutex` while one runs.
    std::mutex connecting;
};

State& state() {
    static State* shared = new State();
    return *shared;
}

void say(const std::string& line) {
    const std::string_view pieces[] = {"pindle: ", line, "\n"};
    StandardError::writeGathered(pieces);
}

// Logs the reason for silence unless it is the one said last.
void saySilent(State& s, const std::string& reason) {
    {
        std::lock_guard lock(s.mutex);
        if (s.saidReason == reason)
            return;
        s.saidReason = reason;
    }
    say("sound is off (" + reason + "); playing silently on the system clock");
}

}  // namespace

bool SoundServer::isSilentByChoice() {
    State& s = state();
    {
        std::lock_guard lock(s.mutex);
        if (s.override_)
            return false;
    }
    const char* choice = std::getenv(environmentVariable);
    if (!choice || std::string_view(choice) != "none")
        return false;
    saySilent(s, std::string(environmentVariable) + "=none");
    return true;
}

ContextPtr SoundServer::shared() {
    State& s = state();
    std::optional<std::string> address;
    {
        std::lock_guard lock(s.mutex);
        if (s.context && s.context->isAlive())
            return s.context;
        s.context.reset();
        address = s.override_;
    }
    if (!address) {
        const char* choice = std::getenv(environmentVariable);
        const std::string_view value = choice ? choice : "";
        if (value == "none") {
            saySilent(s, std::string(environmentVariable) + "=none");
            return nullptr;
        }
        address = "";
    }
    std::lock_guard connecting(s.connecting);
    {
        std::lock_guard lock(s.mutex);
        // Another thread connected meanwhile, or the server failed a moment ago.
        if (s.context && s.context->isAlive())
            return s.context;
        const auto now = Clock::current()->uptime();
        if (s.lastFailure && now - *s.lastFailure < retryAfter && now >= *s.lastFailure)
            return nullptr;
    }
    Error error;
    ContextPtr context = pulse::PulseContext::connect(*address, clientName, &error);
    std::vector<Observer> observers;
    {
        std::lock_guard lock(s.mutex);
        if (!context) {
            s.lastFailure = Clock::current()->uptime();
        } else {
            s.lastFailure.reset();
            s.saidReason.clear();
            s.context = context;
            for (const auto& entry : s.observers) observers.push_back(entry.second);
        }
    }
    if (!context) {
        saySilent(s, error.localizedDescription());
        return nullptr;
    }
    // Said once, as a lost desktop is; a connection closed on purpose never says it.
    context->addDisconnectHandler([] {
        say("the sound server went away (its connection broke); playing on silently on the "
            "system clock");
    });
    for (const auto& observer : observers) observer(context);
    return context;
}

void SoundServer::useServer(std::optional<std::string> address) {
    State& s = state();
    ContextPtr dropped;
    {
        std::lock_guard connecting(s.connecting);
        std::lock_guard lock(s.mutex);
        s.override_ = std::move(address);
        dropped = std::move(s.context);
        s.context.reset();
        s.lastFailure.reset();
        s.saidReason.clear();
    }
}

int SoundServer::addObserver(Observer observer) {
    State& s = state();
    const ContextPtr context = shared();
    int token = 0;
    {
        std::lock_guard lock(s.mutex);
        token = s.nextToken++;
        s.observers.emplace_back(token, observer);
    }
    if (context)
        observer(context);
    return token;
}

void SoundServer::removeObserver(int token) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.observers, [token](const auto& entry) { return entry.first == token; });
}

}  // namespace pindle::platform
