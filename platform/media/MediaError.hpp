// MediaError: the error domain and codes the media facilities report, numbered as the
// platform's media framework numbers them so callers can compare codes with that platform's.
//
// Thread-safety: constants and a pure function.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::platform::MediaError {

inline constexpr const char* domain = "AVFoundationErrorDomain";
inline constexpr std::int64_t unknown = -11800;
inline constexpr std::int64_t diskFull = -11807;
inline constexpr std::int64_t exportFailed = -11820;
inline constexpr std::int64_t decodeFailed = -11821;
inline constexpr std::int64_t invalidSourceMedia = -11822;
inline constexpr std::int64_t fileFormatNotRecognized = -11828;
inline constexpr std::int64_t encoderNotFound = -11834;
inline constexpr std::int64_t operationNotSupportedForAsset = -11838;
inline constexpr std::int64_t operationInterrupted = -11847;

inline Error make(std::int64_t code, const std::string& description) {
    return Error(domain, code, {{Error::localizedDescriptionKey, Value(description)}});
}

}  // namespace pindle::platform::MediaError
