// URLSessionDelegate: what a URL session tells the object it was made with about its tasks.
//
// Every call arrives on the session's delegate queue. For one task the calls come strictly
// one after another, never at the same time, in this order: the response (answered with a
// disposition), the body in chunks as they arrive, then exactly one completion. Bytes-sent
// progress of a body being uploaded arrives before the response. Calls for different tasks
// may run at the same time when the delegate queue is concurrent.
//
// Tasks made with a completion handler report their end to that handler instead; the
// delegate then hears only their upload progress.
//
// Every method has a default: responses are allowed, everything else is ignored.
//
// Thread-safety: the session calls the delegate from its delegate queue's threads;
// implementations guard their own state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class URLSession;
class URLSessionTask;
class URLSessionDataTask;
class URLResponse;

class URLSessionDelegate {
  public:
    enum class ResponseDisposition : int { cancel = 0, allow = 1 };
    // Answers a response; may be called from any thread, at once or later. No body bytes
    // arrive before the answer. Only the first call counts.
    using DispositionHandler = std::function<void(ResponseDisposition)>;

    virtual ~URLSessionDelegate();

    virtual void didReceiveResponse(const std::shared_ptr<URLSession>& session,
                                    const std::shared_ptr<URLSessionDataTask>& dataTask,
                                    const std::shared_ptr<URLResponse>& response,
                                    DispositionHandler completionHandler);

    virtual void didReceiveData(const std::shared_ptr<URLSession>& session,
                                const std::shared_ptr<URLSessionDataTask>& dataTask,
                                const Data& data);
    // The same chunk for a delegate that keeps its bytes past the call (to hand them to
    // another queue): it holds the chunk instead of copying it, and the session reuses the
    // buffer only once every holder has let go. The default hands it to didReceiveData.
    virtual void didReceiveSharedData(const std::shared_ptr<URLSession>& session,
                                      const std::shared_ptr<URLSessionDataTask>& dataTask,
                                      const SharedData& data);

    // The end of a task: no error on success (whatever the HTTP status), else the
    // transport error; URLError::cancelled after cancel().
    virtual void didCompleteWithError(const std::shared_ptr<URLSession>& session,
                                      const std::shared_ptr<URLSessionTask>& task,
                                      const std::optional<Error>& error);

    virtual void didSendBodyData(const std::shared_ptr<URLSession>& session,
                                 const std::shared_ptr<URLSessionTask>& task,
                                 std::int64_t bytesSent, std::int64_t totalBytesSent,
                                 std::int64_t totalBytesExpectedToSend);

    // The session has ended all its tasks after an invalidation and lets go of its delegate.
    virtual void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                           const std::optional<Error>& error);
};

}  // namespace pindle::platform
