// Error: the platform's error value: a domain, a code, user info and a description.
//
// Completions across the SDK report failures as std::optional<Error>. The URL-loading
// and POSIX domains below are the ones the transport produces and the SDK's error
// classification reads.
//
// Thread-safety: a plain value type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

class Error {
  public:
    Error() = default;
    Error(std::string domain, std::int64_t code, Dictionary userInfo = {});

    const std::string& domain() const { return domain_; }
    std::int64_t code() const { return code_; }
    const Dictionary& userInfo() const { return userInfo_; }

    // The "NSLocalizedDescription"-style text: the user-info entry of that key when it is a
    // string, else a text built from domain and code.
    std::string localizedDescription() const;

    // "Error Domain=<domain> Code=<code> UserInfo={...}"
    std::string description() const;

    bool operator==(const Error& other) const;

    static constexpr const char* localizedDescriptionKey = "NSLocalizedDescription";

  private:
    std::string domain_;
    std::int64_t code_ = 0;
    Dictionary userInfo_;
};

// Error domains and codes the transport produces.
namespace URLError {
inline constexpr const char* domain = "NSURLErrorDomain";
inline constexpr std::int64_t unknown = -1;
inline constexpr std::int64_t cancelled = -999;
inline constexpr std::int64_t badURL = -1000;
inline constexpr std::int64_t timedOut = -1001;
inline constexpr std::int64_t unsupportedURL = -1002;
inline constexpr std::int64_t cannotFindHost = -1003;
inline constexpr std::int64_t cannotConnectToHost = -1004;
inline constexpr std::int64_t networkConnectionLost = -1005;
inline constexpr std::int64_t notConnectedToInternet = -1009;
inline constexpr std::int64_t badServerResponse = -1011;
inline constexpr std::int64_t cannotDecodeContentData = -1016;
inline constexpr std::int64_t cannotParseResponse = -1017;
inline constexpr std::int64_t secureConnectionFailed = -1200;
inline constexpr std::int64_t serverCertificateUntrusted = -1202;
inline constexpr std::int64_t cannotOpenFile = -3000;
}  // namespace URLError

namespace POSIXError {
inline constexpr const char* domain = "NSPOSIXErrorDomain";
// The platform's ECONNABORTED, a fixed number whatever the host's errno numbering.
inline constexpr std::int64_t connectionAborted = 53;
}  // namespace POSIXError

namespace CocoaError {
inline constexpr const char* domain = "NSCocoaErrorDomain";
inline constexpr std::int64_t fileNoSuchFile = 4;
inline constexpr std::int64_t fileReadUnknown = 256;
inline constexpr std::int64_t fileWriteUnknown = 512;
inline constexpr std::int64_t propertyListReadCorrupt = 3840;
inline constexpr std::int64_t propertyListWriteInvalid = 3851;
}  // namespace CocoaError

// An error of the URL-loading domain with the given code.
Error makeURLError(std::int64_t code, std::string description = {});

}  // namespace pindle::platform
