#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "tools/emulator/Fault.hpp"
#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"

namespace pindle::emulator {

// The replies and faults a test has scripted, looked up for each incoming request.
// A scripted reply answers one method and path (or, when the registered path holds a "?",
// one exact target, which then wins over the path) instead of the routes; a fault changes how any
// reply for a path is delivered. Entries for the same key are used in the order they were added: an
// entry with a limited number of uses gives way to the next one once it is used up. Thread-safety:
// safe from any thread.
class Script {
  public:
    Script() = default;
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // REQUIRES: uses, when given, is at least 1.
    void addReply(std::string method, std::string pathOrTarget, Response response,
                  std::optional<int> uses = std::nullopt);
    void addFault(std::string path, Fault fault);
    void clear();

    // The scripted reply for this request, using it up by one.
    std::optional<Response> takeReply(const Request& request);
    // The fault for this request, using it up by one.
    std::optional<Fault> takeFault(const Request& request);

  private:
    struct ScriptedReply {
        std::string method;
        std::string pathOrTarget;
        Response response;
        std::optional<int> uses;
    };
    struct ScriptedFault {
        std::string path;
        Fault fault;
    };

    std::mutex mutex_;
    std::deque<ScriptedReply> replies_;  // guarded by mutex_
    std::deque<ScriptedFault> faults_;   // guarded by mutex_
};

}  // namespace pindle::emulator
