// MediaError: the error domain and codes of the media layer (assets, image generation,
// writing media files).
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
inline constexpr std::int64_t fileAlreadyExists = -11823;
inline constexpr std::int64_t fileFormatNotRecognized = -11828;
inline constexpr std::int64_t noVideoTrack = -11832;
inline constexpr std::int64_t encoderNotFound = -11834;
inline constexpr std::int64_t operationNotSupportedForAsset = -11838;
inline constexpr std::int64_t invalidArgument = -11841;
inline constexpr std::int64_t operationInterrupted = -11847;
// The user (or the sound server) has not allowed a camera or the microphone.
inline constexpr std::int64_t notAuthorized = -11852;

Error make(std::int64_t code, std::string description);

}  // namespace pindle::platform::MediaError
