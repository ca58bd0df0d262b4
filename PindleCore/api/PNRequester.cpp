#include "PindleCore/api/PNRequester.hpp"

#include <algorithm>
#include <string_view>

#include "PindleCore/api/PNTaskCancellable.hpp"
#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

constexpr const char* getMethod = "GET";

std::shared_ptr<platform::HTTPURLResponse> asHTTP(
    const std::shared_ptr<platform::URLResponse>& response) {
    return std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
}

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

// Enough of an error page to say what went wrong, however long the page.
constexpr std::size_t errorBodyLineLimit = 200;

std::string firstLineOf(const std::optional<platform::Data>& body) {
    if (!body)
        return {};
    std::string_view text(reinterpret_cast<const char*>(body->data()), body->size());
    text = text.substr(0, std::min(text.find_first_of("\r\n"), errorBodyLineLimit));
    return std::string(text);
}

// An optional sign followed by digits; nothing otherwise.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    return platform::Text::signedInt64Value(text);
}

// A streamed request's label in the pending-requests line.
std::string taskLabel(const std::shared_ptr<platform::URLSessionTask>& task) {
    const platform::URLRequest request = task->currentRequest();
    const std::optional<platform::URL>& url = request.url();
    return url ? PNTaskCancellable::lastButOnePiece(url->absoluteString()) : "no_url";
}

}  // namespace

PNRequester::PNRequester(Private) {}

PNRequester& PNRequester::instance() {
    // Never destroyed: its session's threads call back into it until the process ends.
    static std::shared_ptr<PNRequester>* requester = [] {
        auto* holder = new std::shared_ptr<PNRequester>(std::make_shared<PNRequester>(Private{}));
        (*holder)->session_ =
            platform::URLSession::make(platform::URLSessionConfiguration(), *holder, nullptr);
        return holder;
    }();
    return **requester;
}

// --- Building requests ----------------------------------------------------------------------

std::optional<platform::URL> PNRequester::url(const platform::URL& base,
                                              const std::string& httpMethod,
                                              const platform::Dictionary& parameters) const {
    if (httpMethod != getMethod)
        return base;
    return platform::URL::fromString(base.absoluteString() + "?" + string(parameters));
}

std::string PNRequester::string(const platform::Dictionary& parameters) const {
    std::string query;
    for (const auto& [key, value] : parameters) {  // a std::map: keys in ascending order
        for (const auto& [name, text] : queryComponents(key, value)) {
            if (!query.empty())
                query += "&";
            query += name + "=" + text;
        }
    }
    return query;
}

std::vector<std::pair<std::string, std::string>> PNRequester::queryComponents(
    const std::string& key, const platform::Value& value) const {
    std::vector<std::pair<std::string, std::string>> components;
    auto append = [&](const std::string& nestedKey, const platform::Value& nested) {
        auto more = queryComponents(nestedKey, nested);
        components.insert(components.end(), more.begin(), more.end());
    };
    if (const platform::Dictionary* dictionary = value.asDictionary()) {
        for (const auto& [nestedKey, nested] : *dictionary)
            append(key + "[" + nestedKey + "]", nested);
    } else if (const platform::Array* array = value.asArray()) {
        for (const platform::Value& element : *array) append(key + "[]", element);
    } else if (const platform::StringSet* set = value.asStringSet()) {
        for (const std::string& element : *set) append(key + "[]", element);
    } else if (std::optional<bool> flag = value.asBool()) {
        components.emplace_back(escape(key), escape(*flag ? "1" : "0"));
    } else {
        components.emplace_back(
            escape(key), escape(value.isNull() ? std::string()
                                               : value.plainText().value_or(value.description())));
    }
    return components;
}

std::string PNRequester::escape(const std::string& text) const {
    static const platform::CharacterSet allowed =
        platform::CharacterSet::urlQueryAllowed().removing(":#[]@").removing("!$&'()*+,;=");
    return platform::PercentEncoding::encode(text, allowed);
}

std::optional<platform::Error> PNRequester::error(
    const std::shared_ptr<platform::URLResponse>& response) const {
    std::shared_ptr<platform::HTTPURLResponse> http = asHTTP(response);
    if (!http || isSuccessStatus(http->statusCode()))
        return std::nullopt;
    platform::Dictionary info{{"statusCode", http->statusCode()},
                              {"response", http->debugDescription()}};
    if (http->statusCode() == 400)
        info["error"] = "Bad Request";
    return platform::Error(statusErrorDomain, -1, std::move(info));
}

std::int64_t PNRequester::getSize(const std::shared_ptr<platform::URLResponse>& response) const {
    std::shared_ptr<platform::HTTPURLResponse> http = asHTTP(response);
    if (!http)
        return 0;
    if (auto stored = http->valueForHTTPHeaderField("x-goog-stored-content-length")) {
        return decimalInteger(*stored).value_or(0);
    }
    if (auto range = http->valueForHTTPHeaderField("Content-Range")) {
        const std::size_t slash = range->find('/');
        if (slash == std::string::npos || range->find('/', slash + 1) != std::string::npos)
            return 0;
        return decimalInteger(std::string_view(*range).substr(slash + 1)).value_or(0);
    }
    if (auto length = http->valueForHTTPHeaderField("Content-Length")) {
        return decimalInteger(*length).value_or(0);
    }
    return 0;
}

// --- JSON requests --------------------------------------------------------------------------

PNCancellablePtr PNRequester::refuse(Completion completion, platform::Error error) {
    session_->delegateQueue()->async(
        [completion = std::move(completion), error = std::move(error)] { completion({}, error); });
    return std::make_shared<PNRefusedCall>();
}

PNCancellablePtr PNRequester::jsonRequest(const platform::URL& base, const std::string& method,
                                          const platform::Dictionary& parameters,
                                          const platform::StringDictionary& headers, Mapper mapper,
                                          Completion completion) {
    BodyMapper parseThenMap =
        [mapper = std::move(mapper)](
            const platform::Data& body,
            const platform::Dictionary* fields) -> std::optional<platform::Value> {
        std::optional<platform::Value> json = platform::Json::parse(body);
        if (!json || !mapper)
            return json;
        return mapper(*json, fields);
    };
    return jsonRequestMappingBody(base, method, parameters, headers, std::move(parseThenMap),
                                  std::move(completion));
}

PNCancellablePtr PNRequester::jsonRequestMappingBody(const platform::URL& base,
                                                     const std::string& method,
                                                     const platform::Dictionary& parameters,
                                                     const platform::StringDictionary& headers,
                                                     BodyMapper mapper, Completion completion) {
    std::optional<platform::URL> requestURL = url(base, method, parameters);
    if (!requestURL) {
        return refuse(std::move(completion),
                      platform::makeURLError(platform::URLError::badURL, "unsupported URL"));
    }
    platform::URLRequest request(
        requestURL, platform::URLRequest::CachePolicy::reloadIgnoringLocalAndRemoteCacheData,
        jsonTimeoutInterval);
    request.setHTTPMethod(method);
    for (const auto& [name, value] : headers) request.setValue(value, name);
    if (method != getMethod) {
        platform::Error serializationError;
        std::optional<platform::Data> body =
            platform::Json::serializeToData(platform::Value(parameters), &serializationError);
        // Sending a write without its body would report a success for nothing written.
        if (!body)
            return refuse(std::move(completion), serializationError);
        request.setHTTPBody(std::move(body));
        request.setValue("application/json", "Content-Type");
    } else {
        request.setValue("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
    }

    auto task = session_->dataTask(
        std::move(request),
        [this, method, mapper = std::move(mapper), completion = std::move(completion)](
            std::optional<platform::Data> body, std::shared_ptr<platform::URLResponse> response,
            std::optional<platform::Error> transportError) {
            handleJSONReply(method, std::move(body), response, transportError, mapper, completion);
        });
    task->resume();
    return std::make_shared<PNTaskCancellable>(std::move(task));
}

void PNRequester::handleJSONReply(const std::string& method, std::optional<platform::Data> body,
                                  const std::shared_ptr<platform::URLResponse>& response,
                                  const std::optional<platform::Error>& transportError,
                                  const BodyMapper& mapper, const Completion& completion) const {
    if (transportError)
        return completion({}, transportError);
    // An error page is a failure whatever its body says.
    if (std::optional<platform::Error> statusError = error(response)) {
        platform::Dictionary info = statusError->userInfo();
        info["method"] = method;
        if (response && response->url())
            info["url"] = response->url()->absoluteString();
        info["body"] = firstLineOf(body);
        return completion(
            {}, platform::Error(statusError->domain(), statusError->code(), std::move(info)));
    }
    if (!body || body->empty())
        return completion({}, std::nullopt);

    std::optional<platform::Dictionary> headers;
    if (auto http = asHTTP(response)) {
        headers.emplace();
        for (const auto& [name, value] : http->allHeaderFields()) headers->emplace(name, value);
    }
    std::optional<platform::Value> mapped = mapper(*body, headers ? &*headers : nullptr);
    // What the completion does (a host printing a long list, say) runs without the raw reply.
    body.reset();
    if (!mapped)
        return completion({}, std::nullopt);
    completion(*mapped, std::nullopt);
}

// --- Streamed requests ----------------------------------------------------------------------

PNCancellablePtr PNRequester::googleDataRequest(const platform::URLRequest& request,
                                                StreamBlock streamBlock,
                                                StreamCompletion completion) {
    std::lock_guard lock(dataLoadinglock_);
    std::shared_ptr<platform::URLSessionDataTask> task = session_->dataTask(request);
    if (streamBlock)
        taskDataBlocks_[task] = std::make_shared<const StreamBlock>(std::move(streamBlock));
    taskCompletionBlocks_[task] = std::move(completion);
    log();
    // Callbacks never run on this thread, so starting under the lock is safe.
    task->resume();
    return std::make_shared<PNTaskCancellable>(std::move(task));
}

void PNRequester::didReceiveResponse(const std::shared_ptr<platform::URLSession>&,
                                     const std::shared_ptr<platform::URLSessionDataTask>& dataTask,
                                     const std::shared_ptr<platform::URLResponse>& response,
                                     DispositionHandler completionHandler) {
    StreamedReply reply{response, getSize(response), 0, false};
    if (const auto http = asHTTP(response)) {
        reply.statusCode = http->statusCode();
        reply.failed = !isSuccessStatus(reply.statusCode);
    }
    {
        std::lock_guard lock(dataLoadinglock_);
        if (taskCompletionBlocks_.count(dataTask))
            taskResponses_[dataTask] = std::move(reply);
    }
    completionHandler(ResponseDisposition::allow);
}

void PNRequester::didReceiveData(const std::shared_ptr<platform::URLSession>&,
                                 const std::shared_ptr<platform::URLSessionDataTask>& dataTask,
                                 const platform::Data& data) {
    std::shared_ptr<const StreamBlock> block;
    std::int64_t totalSize = 0;
    int statusCode = 0;
    {
        std::lock_guard lock(dataLoadinglock_);
        auto found = taskDataBlocks_.find(dataTask);
        if (found == taskDataBlocks_.end())
            return;
        block = found->second;
        auto stored = taskResponses_.find(dataTask);
        if (stored != taskResponses_.end()) {
            // The body of an error reply is not the resource: never hand it on as its bytes.
            if (stored->second.failed)
                return;
            totalSize = stored->second.totalSize;
            statusCode = stored->second.statusCode;
        }
    }
    (*block)(data, totalSize, statusCode);
}

void PNRequester::didCompleteWithError(const std::shared_ptr<platform::URLSession>&,
                                       const std::shared_ptr<platform::URLSessionTask>& task,
                                       const std::optional<platform::Error>& transportError) {
    StreamCompletion completion;
    std::shared_ptr<platform::URLResponse> response;
    {
        std::lock_guard lock(dataLoadinglock_);
        auto found = taskCompletionBlocks_.find(task);
        if (found == taskCompletionBlocks_.end())
            return;
        completion = std::move(found->second);
        taskCompletionBlocks_.erase(found);
        auto stored = taskResponses_.find(task);
        if (stored != taskResponses_.end()) {
            response = std::move(stored->second.response);
            taskResponses_.erase(stored);
        }
        taskDataBlocks_.erase(task);
        log();
    }
    std::optional<platform::Error> statusError = error(response);
    completion(getSize(response), statusError ? statusError : transportError);
}

void PNRequester::log() {
    std::string labels = "[";
    bool first = true;
    for (const auto& [task, block] : taskDataBlocks_) {
        if (!first)
            labels += ", ";
        first = false;
        labels += "\"" + taskLabel(task) + "\"";
    }
    labels += "]";
    logger_.log("enqueu_DATA_REQUESTS_" + std::to_string(taskDataBlocks_.size()) + "_" + labels);
}

}  // namespace pindle
