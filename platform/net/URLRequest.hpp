// URLRequest: what to load and how, handed to a URL session to make a task.
//
// A request is a URL, a method sent exactly as written, header fields, body bytes and a
// few loading policies. Header names are matched without regard to case, as HTTP does;
// each field keeps the spelling it was first set with. The cache policy, network service
// type and pipelining flag are recorded for callers that read them back; this platform
// keeps no URL cache and has one class of traffic, so they change nothing on the wire. Copies
// of a request share its body bytes, which nothing changes in place, so handing a request with
// a large body from caller to task to transfer copies no bytes.
//
// Thread-safety: a plain value type.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle::platform {

class URLRequest {
  public:
    enum class CachePolicy : int {
        useProtocolCachePolicy = 0,
        reloadIgnoringLocalCacheData = 1,
        returnCacheDataElseLoad = 2,
        returnCacheDataDontLoad = 3,
        reloadIgnoringLocalAndRemoteCacheData = 4,
        reloadRevalidatingCacheData = 5,
    };

    enum class NetworkServiceType : int {
        standard = 0,
        voip = 1,
        video = 2,
        background = 3,
        voice = 4,
        responsiveData = 6,
        avStreaming = 8,
        responsiveAV = 9,
        callSignaling = 11,
    };

    // Header fields in the order they were first set: (name, value).
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;

    static constexpr double defaultTimeoutInterval = 60.0;

    URLRequest() = default;
    explicit URLRequest(std::optional<URL> url,
                        CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy,
                        double timeoutInterval = defaultTimeoutInterval);

    const std::optional<URL>& url() const { return url_; }
    void setURL(std::optional<URL> url) { url_ = std::move(url); }

    // The method text, "GET" unless set. It goes on the request line unchanged: "get" is not
    // "GET".
    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }

    const HeaderFields& allHTTPHeaderFields() const { return headers_; }
    // The value of the field `name` (any case), or nothing.
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
    // Sets the field `name` to `value`, replacing any value it had; nothing removes it.
    void setValue(std::optional<std::string> value, std::string_view name);
    // Appends `value` to the field `name`, joined to an earlier value by ",".
    void addValue(std::string_view value, std::string_view name);

    const std::optional<Data>& httpBody() const;
    void setHTTPBody(std::optional<Data> body);
    // The body bytes themselves, shared without a copy; null without a body.
    std::shared_ptr<const Data> sharedHTTPBody() const;

    CachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }

    // Seconds without any byte moving after which the load fails with a time-out; the
    // connection attempt is bounded by the same interval. Not a limit on the whole transfer.
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

    NetworkServiceType networkServiceType() const { return serviceType_; }
    void setNetworkServiceType(NetworkServiceType type) { serviceType_ = type; }

    bool httpShouldUsePipelining() const { return pipelining_; }
    void setHTTPShouldUsePipelining(bool use) { pipelining_ = use; }

    // Bodies compare by their bytes.
    bool operator==(const URLRequest& other) const;

  private:
    HeaderFields::iterator findField(std::string_view name);

    std::optional<URL> url_;
    std::string method_ = "GET";
    HeaderFields headers_;
    std::shared_ptr<const std::optional<Data>> body_;  // null: no body
    CachePolicy cachePolicy_ = CachePolicy::useProtocolCachePolicy;
    double timeoutInterval_ = defaultTimeoutInterval;
    NetworkServiceType serviceType_ = NetworkServiceType::standard;
    bool pipelining_ = false;
};

}  // namespace pindle::platform
