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

std::string firstLineOf(std::string_view text) {
    return std::string(text.substr(0, std::min(text.find_first_of("\r\n"), errorBodyLineLimit)));
}

std::string_view textOf(const std::optional<platform::Data>& body) {
    if (!body)
        return {};
    return std::string_view(reinterpret_cast<const char*>(body->data()), body->size());
}

// The response's header fields as values; nothing when it is not HTTP.
std::optional<platform::Dictionary> headerFields(
    const std::shared_ptr<platform::URLResponse>& response) {
    std::shared_ptr<platform::HTTPURLResponse> http = asHTTP(response);
    if (!http)
        return std::nullopt;
    platform::Dictionary fields;
    for (const auto& [name, value] : http->allHeaderFields()) fields.emplace(name, value);
    return fields;
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

std::optional<platform::URLRequest> PNRequester::jsonURLRequest(
    const platform::URL& base, const std::string& method, const platform::Dictionary& parameters,
    const platform::StringDictionary& headers, platform::Error* refusal) const {
    std::optional<platform::URL> requestURL = url(base, method, parameters);
    if (!requestURL) {
        *refusal = platform::makeURLError(platform::URLError::badURL, "unsupported URL");
        return std::nullopt;
    }
    platform::URLRequest request(
        requestURL, platform::URLRequest::CachePolicy::reloadIgnoringLocalAndRemoteCacheData,
        jsonTimeoutInterval);
    request.setHTTPMethod(method);
    for (const auto& [name, value] : headers) request.setValue(value, name);
    if (method != getMethod) {
        std::optional<platform::Data> body =
            platform::Json::serializeToData(platform::Value(parameters), refusal);
        // Sending a write without its body would report a success for nothing written.
        if (!body)
            return std::nullopt;
        request.setHTTPBody(std::move(body));
        request.setValue("application/json", "Content-Type");
    } else {
        request.setValue("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
    }
    return request;
}

PNCancellablePtr PNRequester::jsonRequest(const platform::URL& base, const std::string& method,
                                          const platform::Dictionary& parameters,
                                          const platform::StringDictionary& headers, Mapper mapper,
                                          Completion completion) {
    platform::Error refusal;
    std::optional<platform::URLRequest> request =
        jsonURLRequest(base, method, parameters, headers, &refusal);
    if (!request)
        return refuse(std::move(completion), std::move(refusal));
    auto task = session_->dataTask(
        std::move(*request),
        [this, method, mapper = std::move(mapper), completion = std::move(completion)](
            std::optional<platform::Data> body, std::shared_ptr<platform::URLResponse> response,
            std::optional<platform::Error> transportError) {
            const bool empty = !body || body->empty();
            completeJSONCall(
                method, textOf(body), empty, response, transportError,
                [&](const platform::Dictionary* fields) -> std::optional<platform::Value> {
                    std::optional<platform::Value> json = platform::Json::parse(*body);
                    body.reset();
                    if (!json || !mapper)
                        return json;
                    return mapper(*json, fields);
                },
                completion);
        });
    task->resume();
    return std::make_shared<PNTaskCancellable>(std::move(task));
}

namespace {

// Where the reading of one reply stands. Touched only by its task's callbacks, which never
// overlap and come in order, so it needs no lock.
struct ReplyReading {
    PNRequester::BodyReaderMaker makeReader;
    std::optional<PNRequester::BodyReader> reader;  // once a 2xx reply's first bytes are in
    std::string errorBodyStart;  // an error reply's first bytes, enough for its first line
    bool receivedBytes = false;
};

}  // namespace

PNCancellablePtr PNRequester::jsonRequestReadingBody(
    const platform::URL& base, const std::string& method, const platform::Dictionary& parameters,
    const platform::StringDictionary& headers, BodyReaderMaker makeReader, Completion completion) {
    platform::Error refusal;
    std::optional<platform::URLRequest> request =
        jsonURLRequest(base, method, parameters, headers, &refusal);
    if (!request)
        return refuse(std::move(completion), std::move(refusal));
    auto reading = std::make_shared<ReplyReading>();
    reading->makeReader = std::move(makeReader);
    auto take = [this, reading](const platform::Data& chunk,
                                const std::shared_ptr<platform::URLResponse>& response) {
        if (chunk.empty())
            return;
        reading->receivedBytes = true;
        if (error(response)) {
            std::string& start = reading->errorBodyStart;
            if (start.size() < errorBodyLineLimit &&
                start.find_first_of("\r\n") == std::string::npos) {
                start.append(chunk.begin(),
                             chunk.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                 chunk.size(), errorBodyLineLimit - start.size())));
            }
            return;
        }
        if (!reading->reader) {
            std::optional<platform::Dictionary> fields = headerFields(response);
            reading->reader = reading->makeReader(fields ? &*fields : nullptr);
        }
        reading->reader->append(chunk);
    };
    auto end = [this, method, reading, completion = std::move(completion)](
                   std::optional<platform::Data>, std::shared_ptr<platform::URLResponse> response,
                   std::optional<platform::Error> transportError) {
        // What was read of a failed reply is dropped before the completion runs.
        std::optional<BodyReader> reader = std::move(reading->reader);
        reading->reader.reset();
        if (transportError || error(response))
            reader.reset();
        completeJSONCall(
            method, reading->errorBodyStart, !reading->receivedBytes, response, transportError,
            [&](const platform::Dictionary*) -> std::optional<platform::Value> {
                if (!reader)
                    return std::nullopt;
                std::optional<platform::Value> mapped = reader->finish();
                reader.reset();
                return mapped;
            },
            completion);
    };
    auto task = session_->dataTask(std::move(*request), std::move(take), std::move(end));
    task->resume();
    return std::make_shared<PNTaskCancellable>(std::move(task));
}

void PNRequester::completeJSONCall(const std::string& method, std::string_view bodyStart,
                                   bool emptyBody,
                                   const std::shared_ptr<platform::URLResponse>& response,
                                   const std::optional<platform::Error>& transportError,
                                   const BodyMapping& mapBody, const Completion& completion) const {
    if (transportError)
        return completion({}, transportError);
    // An error page is a failure whatever its body says.
    if (std::optional<platform::Error> statusError = error(response)) {
        platform::Dictionary info = statusError->userInfo();
        info["method"] = method;
        if (response && response->url())
            info["url"] = response->url()->absoluteString();
        info["body"] = firstLineOf(bodyStart);
        return completion(
            {}, platform::Error(statusError->domain(), statusError->code(), std::move(info)));
    }
    if (emptyBody)
        return completion({}, std::nullopt);
    std::optional<platform::Dictionary> fields = headerFields(response);
    // What the completion does (a host printing a long list, say) runs without the raw reply.
    std::optional<platform::Value> mapped = mapBody(fields ? &*fields : nullptr);
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

void PNRequester::didReceiveSharedData(
    const std::shared_ptr<platform::URLSession>&,
    const std::shared_ptr<platform::URLSessionDataTask>& dataTask,
    const platform::SharedData& data) {
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
    if (statusError)
        return completion(0, statusError);
    completion(getSize(response), transportError);
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
