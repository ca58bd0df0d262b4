// PNError: the SDK's own error codes, each with a fixed message.
//
// A PNError reaches completions as a platform::Error (domain "PindleCore.PNError", the code,
// and the user-info entry "description" with the message) through toPlatformError(). The
// classification predicates of PNErrorClassification.hpp read both kinds.
//
// Thread-safety: a plain value type. The message of `authenticationFailed` reads the current
// session's application identifier at the moment it is asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle {

class PNError {
  public:
    enum Code : std::int64_t {
        noInternetConnection = 0,
        sessionNotStarted = 1,
        authenticationFailed = 2,
        timedOut = 3,
        serverDown = 4,
        valuesTooLarge = 5,
        quotaLimitReached = 6,
        serverMaintenance = 7,
        videoOutOfBounds = 8,
        videoUnavailable = 9,
        videoLoadFailed = 10,
        videoNotFound = 11,
        noPlayableURL = 12,
        uploadFileNotFound = 13,
        incorrectFileType = 14,
        unknown = 15,
    };

    // The domain of the type itself, and the domain a PNError has as a platform error.
    static constexpr const char* errorDomain = "PNError";
    static constexpr const char* platformErrorDomain = "PindleCore.PNError";

    constexpr PNError(Code code) : code_(code) {}

    // The error with that code; nothing outside 0...15.
    static std::optional<PNError> fromRawValue(std::int64_t rawValue);
    // The PNError a platform error stands for, when it is one (domain "PindleCore.PNError").
    static std::optional<PNError> fromPlatformError(const platform::Error& error);

    constexpr Code code() const { return code_; }
    constexpr std::int64_t rawValue() const { return code_; }
    constexpr std::int64_t errorCode() const { return code_; }

    std::string localizedDescription() const;
    // {"description": localizedDescription()}
    platform::Dictionary errorUserInfo() const;
    platform::Error toPlatformError() const;
    operator platform::Error() const { return toPlatformError(); }

    constexpr bool operator==(const PNError& other) const { return code_ == other.code_; }
    constexpr bool operator==(Code code) const { return code_ == code; }

  private:
    Code code_;
};

}  // namespace pindle
