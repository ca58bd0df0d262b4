// PNRequester: the one HTTP client of the SDK's REST calls and streamed media downloads.
//
// jsonRequest() builds a request (GET parameters in the sorted, escaped query string, other
// methods' parameters as a JSON body), runs it, parses the reply as JSON and hands it on,
// mapped when a mapper is given. A status outside 200-299 becomes the status error (domain
// "com.p.pinlet", code -1, user info "statusCode", "response" and, for 400, "error": "Bad
// Request"), whatever the body; a 2xx reply whose body is empty or not JSON gives no result and
// no error. A transport error always comes first.
//
// googleDataRequest() runs a request whose body is handed on chunk by chunk with the total
// size of the resource; the body of a reply outside 200-299 is not handed on, and its
// completion reports a total size of 0 (an error page's length is not the resource's).
//
// Every completion and block runs on the requester's URL-session delegate queue (concurrent;
// never the caller's thread, never the main queue), exactly once per call, and never with a
// lock of the requester held.
//
// Thread-safety: all operations may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/net/URLSessionDelegate.hpp"

namespace pindle {

class PNRequester : public platform::URLSessionDelegate,
                    public std::enable_shared_from_this<PNRequester> {
  public:
    // Maps the parsed JSON body and the response's header fields (nullptr when the response
    // is not HTTP) to the call's result.
    using Mapper = std::function<platform::Value(const platform::Value& json,
                                                 const platform::Dictionary* headers)>;
    // Reads a reply's body while it arrives, so that a long list is mapped element by element
    // and never held whole: `append` gets the body's chunks in order, then `finish` gives the
    // call's result (nothing when the body is not JSON). Both run on the delegate queue, one
    // call at a time.
    struct BodyReader {
        std::function<void(const platform::Data& chunk)> append;
        std::function<std::optional<platform::Value>()> finish;
    };
    // Makes the reader of a 2xx reply's body, given the response's header fields (nullptr when
    // the response is not HTTP), when the body's first bytes arrive.
    using BodyReaderMaker = std::function<BodyReader(const platform::Dictionary* headers)>;
    using Completion = std::function<void(const platform::Value& result,
                                          const std::optional<platform::Error>& error)>;
    // The reply's HTTP status comes with each chunk (0 when the reply is not HTTP), so that a
    // ranged download can tell a whole-file 200 reply from a 206. The chunk is shared, not
    // copied: a block that keeps the bytes keeps the chunk.
    using StreamBlock = std::function<void(const platform::SharedData& chunk,
                                           std::int64_t totalSize, int statusCode)>;
    using StreamCompletion =
        std::function<void(std::int64_t totalSize, const std::optional<platform::Error>& error)>;

    static constexpr const char* statusErrorDomain = "com.p.pinlet";
    static constexpr double jsonTimeoutInterval = 10.0;

    // The requester's own error type, with its one case. Nothing in the SDK raises it: a
    // status outside 200-299 reaches callers as the status error above. It is here for hosts
    // that name it; as a platform error it has the domain errorDomain, the case's position as
    // its code and no user info.
    class ValidateStatusCodeError {
      public:
        enum Case { failureStatusCode = 0 };

        static constexpr const char* errorDomain = "PindleCore.PNRequester.ValidateStatusCodeError";

        constexpr ValidateStatusCodeError(Case errorCase = failureStatusCode) : case_(errorCase) {}

        constexpr Case errorCase() const { return case_; }
        // The case's position, which std::hash gives too.
        constexpr std::size_t hashValue() const { return static_cast<std::size_t>(case_); }
        platform::Error toPlatformError() const { return platform::Error(errorDomain, case_); }
        operator platform::Error() const { return toPlatformError(); }

        constexpr bool operator==(const ValidateStatusCodeError&) const = default;

      private:
        Case case_;
    };

    static PNRequester& instance();

    // The URL to request: for "GET" the base URL's text, "?" and the query (even when empty);
    // for any other method the base URL unchanged.
    std::optional<platform::URL> url(const platform::URL& base, const std::string& httpMethod,
                                     const platform::Dictionary& parameters) const;

    // REQUIRES: completion is callable.
    PNCancellablePtr jsonRequest(const platform::URL& url, const std::string& method,
                                 const platform::Dictionary& parameters,
                                 const platform::StringDictionary& headers, Mapper mapper,
                                 Completion completion);
    // The same with the body read while it arrives by a reader `makeReader` makes; a reply with
    // an empty body, or an error status, makes none. REQUIRES: makeReader and completion are
    // callable.
    PNCancellablePtr jsonRequestReadingBody(const platform::URL& url, const std::string& method,
                                            const platform::Dictionary& parameters,
                                            const platform::StringDictionary& headers,
                                            BodyReaderMaker makeReader, Completion completion);

    // Runs `request` exactly as built; `streamBlock` (optional) gets each body chunk with the
    // resource's total size, `completion` the size and the error at the end.
    PNCancellablePtr googleDataRequest(const platform::URLRequest& request, StreamBlock streamBlock,
                                       StreamCompletion completion);

    // Completes `completion` with (no result, error) on the delegate queue, sending nothing.
    PNCancellablePtr refuse(Completion completion, platform::Error error);

    // The query string, without "?": top-level keys sorted, pairs joined with "&".
    std::string string(const platform::Dictionary& parameters) const;
    std::vector<std::pair<std::string, std::string>> queryComponents(
        const std::string& key, const platform::Value& value) const;
    // Percent-escapes all but ASCII letters, digits and "-._~/?".
    std::string escape(const std::string& text) const;
    // The status error for a response outside 200-299; nothing otherwise.
    std::optional<platform::Error> error(
        const std::shared_ptr<platform::URLResponse>& response) const;
    // The resource's total size from "x-goog-stored-content-length", else the total of
    // "Content-Range", else "Content-Length"; 0 when none gives a decimal integer.
    std::int64_t getSize(const std::shared_ptr<platform::URLResponse>& response) const;

    // Session delegate callbacks (streamed requests).
    void didReceiveResponse(const std::shared_ptr<platform::URLSession>& session,
                            const std::shared_ptr<platform::URLSessionDataTask>& dataTask,
                            const std::shared_ptr<platform::URLResponse>& response,
                            DispositionHandler completionHandler) override;
    void didReceiveSharedData(const std::shared_ptr<platform::URLSession>& session,
                              const std::shared_ptr<platform::URLSessionDataTask>& dataTask,
                              const platform::SharedData& data) override;
    void didCompleteWithError(const std::shared_ptr<platform::URLSession>& session,
                              const std::shared_ptr<platform::URLSessionTask>& task,
                              const std::optional<platform::Error>& error) override;

    PNRequester(const PNRequester&) = delete;
    PNRequester& operator=(const PNRequester&) = delete;

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit PNRequester(Private);

  private:
    using TaskKey = std::shared_ptr<platform::URLSessionTask>;

    // The request a JSON call sends, or none with the error that refuses it in `*refusal`.
    // REQUIRES: refusal is not null.
    std::optional<platform::URLRequest> jsonURLRequest(const platform::URL& base,
                                                       const std::string& method,
                                                       const platform::Dictionary& parameters,
                                                       const platform::StringDictionary& headers,
                                                       platform::Error* refusal) const;
    // Completes a JSON call once its reply is in. An error status's error also carries the
    // request's "method", its "url" and the first line of the reply's body (from
    // `bodyStart`, "body"), so that a host can say what happened. `mapBody` maps a 2xx reply's
    // body that is not empty, and drops it before `completion` runs.
    using BodyMapping =
        std::function<std::optional<platform::Value>(const platform::Dictionary* headers)>;
    void completeJSONCall(const std::string& method, std::string_view bodyStart, bool emptyBody,
                          const std::shared_ptr<platform::URLResponse>& response,
                          const std::optional<platform::Error>& transportError,
                          const BodyMapping& mapBody, const Completion& completion) const;
    // Writes the pending-requests line. REQUIRES: dataLoadinglock_ held.
    void log();

    std::shared_ptr<platform::URLSession> session_;  // set once, after construction

    std::mutex dataLoadinglock_;
    // What a streamed request's chunks need of its reply, worked out once when it arrives.
    struct StreamedReply {
        std::shared_ptr<platform::URLResponse> response;
        std::int64_t totalSize = 0;
        int statusCode = 0;
        bool failed = false;  // an HTTP status outside 200-299
    };

    // Shared, so a chunk takes its block without copying it.
    std::map<TaskKey, std::shared_ptr<const StreamBlock>>
        taskDataBlocks_;                                        // guarded by dataLoadinglock_
    std::map<TaskKey, StreamCompletion> taskCompletionBlocks_;  // guarded by dataLoadinglock_
    std::map<TaskKey, StreamedReply> taskResponses_;            // guarded by dataLoadinglock_
    PNLogger logger_{PNLoggerType::RQST};
};

}  // namespace pindle

template <>
struct std::hash<pindle::PNRequester::ValidateStatusCodeError> {
    std::size_t operator()(
        const pindle::PNRequester::ValidateStatusCodeError& error) const noexcept {
        return error.hashValue();
    }
};
