#include "PindleCore/model/PNError.hpp"

#include "PindleCore/model/private/PNSessionContext.hpp"

namespace pindle {

std::optional<PNError> PNError::fromRawValue(std::int64_t rawValue) {
    if (rawValue < noInternetConnection || rawValue > unknown)
        return std::nullopt;
    return PNError(static_cast<Code>(rawValue));
}

std::optional<PNError> PNError::fromPlatformError(const platform::Error& error) {
    if (error.domain() != platformErrorDomain)
        return std::nullopt;
    return fromRawValue(error.code());
}

std::string PNError::localizedDescription() const {
    switch (code_) {
        case noInternetConnection:
            return "No internet connection";
        case sessionNotStarted:
            return "The session has not started";
        case authenticationFailed:
            // Without an application identifier the sentence simply ends after "app id".
            return "Unable to authenticate for app id " +
                   PNSessionContext::current()->appID().value_or("");
        case timedOut:
            return "The network call has timed out";
        case serverDown:
            return "The server is currently down";
        case valuesTooLarge:
            return "Inputed values are too large";
        case quotaLimitReached:
            return "You have reached the quota limit";
        case serverMaintenance:
            return "Server is currently going through maintenance";
        case videoOutOfBounds:
            return "Video out requested out of bound";
        case videoUnavailable:
            return "Video is unavailable";
        case videoLoadFailed:
            return "Failed to load video";
        case videoNotFound:
            return "Video is not found";
        case noPlayableURL:
            return "Video doesn't have url to play";
        case uploadFileNotFound:
            return "Video file to upload is not found";
        case incorrectFileType:
            return "Incorrect type of video file";
        case unknown:
            return "Unknown error occured";
    }
    return "Unknown error occured";
}

platform::Dictionary PNError::errorUserInfo() const {
    return {{"description", localizedDescription()}};
}

platform::Error PNError::toPlatformError() const {
    platform::Dictionary info = errorUserInfo();
    info[platform::Error::localizedDescriptionKey] = localizedDescription();
    return platform::Error(platformErrorDomain, code_, std::move(info));
}

}  // namespace pindle
