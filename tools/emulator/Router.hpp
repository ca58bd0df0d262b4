#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"

namespace pindle::emulator {

// Maps a method and a path pattern to a handler. A pattern is a path whose segments are
// either literal or a placeholder "{name}" that matches one non-empty segment; the
// percent-decoded segment is handed to the handler under that name. Routes are tried in
// the order they were added, so a literal route added before a placeholder one wins
// ("/v1/videos/sync" before "/v1/videos/{id}").
// Thread-safety: safe from any thread. Handlers run on the server's I/O threads, possibly
// several at once, and never under the router's lock.
class Router {
  public:
    using Params = std::map<std::string, std::string>;
    using Handler = std::function<Response(const Request&, const Params&)>;

    // The outcome of routing one request.
    struct Match {
        Handler handler;  // empty when no route matched both path and method
        Params params;
        // Methods of the routes whose pattern matched the path; non-empty with an empty
        // handler means the path exists but not for this method (a 405).
        std::vector<std::string> allowedMethods;
    };

    Router() = default;
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    void add(std::string method, std::string pattern, Handler handler);
    Match match(const std::string& method, const std::string& path) const;

    // Decodes %XX escapes; "+" stays a plus sign, as clients here escape spaces as %20.
    static std::string percentDecode(std::string_view text);

  private:
    struct Route {
        std::string method;
        std::vector<std::string> segments;
        Handler handler;
    };

    static std::vector<std::string> split(const std::string& path);
    static std::optional<Params> matchSegments(const Route& route,
                                               const std::vector<std::string>& segments);

    mutable std::mutex mutex_;
    std::vector<Route> routes_;  // guarded by mutex_
};

}  // namespace pindle::emulator
