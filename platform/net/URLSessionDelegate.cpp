#include "platform/net/URLSessionDelegate.hpp"

namespace pindle::platform {

URLSessionDelegate::~URLSessionDelegate() = default;

void URLSessionDelegate::didReceiveResponse(const std::shared_ptr<URLSession>&,
                                            const std::shared_ptr<URLSessionDataTask>&,
                                            const std::shared_ptr<URLResponse>&,
                                            DispositionHandler completionHandler) {
    completionHandler(ResponseDisposition::allow);
}

void URLSessionDelegate::didReceiveData(const std::shared_ptr<URLSession>&,
                                        const std::shared_ptr<URLSessionDataTask>&, const Data&) {}

void URLSessionDelegate::didReceiveSharedData(const std::shared_ptr<URLSession>& session,
                                              const std::shared_ptr<URLSessionDataTask>& dataTask,
                                              const SharedData& data) {
    didReceiveData(session, dataTask, *data);
}

void URLSessionDelegate::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                              const std::shared_ptr<URLSessionTask>&,
                                              const std::optional<Error>&) {}

void URLSessionDelegate::didSendBodyData(const std::shared_ptr<URLSession>&,
                                         const std::shared_ptr<URLSessionTask>&, std::int64_t,
                                         std::int64_t, std::int64_t) {}

void URLSessionDelegate::didBecomeInvalidWithError(const std::shared_ptr<URLSession>&,
                                                   const std::optional<Error>&) {}

}  // namespace pindle::platform
