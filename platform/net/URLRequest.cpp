#include "platform/net/URLRequest.hpp"

#include <algorithm>
#include <cctype>

namespace pindle::platform {

namespace {

bool sameFieldName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

URLRequest::URLRequest(std::optional<URL> url, CachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

const std::optional<Data>& URLRequest::httpBody() const {
    static const std::optional<Data> noBody;
    return body_ ? *body_ : noBody;
}

void URLRequest::setHTTPBody(std::optional<Data> body) {
    body_ = body ? std::make_shared<const std::optional<Data>>(std::move(body)) : nullptr;
}

std::shared_ptr<const Data> URLRequest::sharedHTTPBody() const {
    if (!body_ || !*body_)
        return nullptr;
    return std::shared_ptr<const Data>(body_, &**body_);
}

bool URLRequest::operator==(const URLRequest& other) const {
    return url_ == other.url_ && method_ == other.method_ && headers_ == other.headers_ &&
           httpBody() == other.httpBody() && cachePolicy_ == other.cachePolicy_ &&
           timeoutInterval_ == other.timeoutInterval_ && serviceType_ == other.serviceType_ &&
           pipelining_ == other.pipelining_;
}

URLRequest::HeaderFields::iterator URLRequest::findField(std::string_view name) {
    return std::find_if(headers_.begin(), headers_.end(),
                        [&](const auto& field) { return sameFieldName(field.first, name); });
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view name) const {
    for (const auto& [fieldName, value] : headers_) {
        if (sameFieldName(fieldName, name))
            return value;
    }
    return std::nullopt;
}

void URLRequest::setValue(std::optional<std::string> value, std::string_view name) {
    auto field = findField(name);
    if (!value) {
        if (field != headers_.end())
            headers_.erase(field);
        return;
    }
    if (field != headers_.end()) {
        field->second = std::move(*value);
    } else {
        headers_.emplace_back(std::string(name), std::move(*value));
    }
}

void URLRequest::addValue(std::string_view value, std::string_view name) {
    auto field = findField(name);
    if (field == headers_.end()) {
        headers_.emplace_back(std::string(name), std::string(value));
    } else {
        field->second += ",";
        field->second += value;
    }
}

}  // namespace pindle::platform
