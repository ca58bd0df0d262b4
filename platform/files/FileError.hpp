// FileError: how the file facilities report a failed system call.
//
// Every failure of FileManager, FileHandle, FileWatcher and the extended-attribute calls is
// an Error of CocoaError::domain with one of the file codes below, chosen from errno and
// from whether the call was reading or writing. The user info carries the path under
// "NSFilePath" and the raw failure as "NSUnderlyingError": an Error of POSIXError::domain
// whose code is the host's errno (Linux numbering; unlike POSIXError::connectionAborted,
// file errno values are not translated).
//
// Thread-safety: free functions over values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

namespace FileErrorCode {
inline constexpr std::int64_t noSuchFile = CocoaError::fileNoSuchFile;  // 4
inline constexpr std::int64_t locking = 255;
inline constexpr std::int64_t readUnknown = CocoaError::fileReadUnknown;  // 256
inline constexpr std::int64_t readNoPermission = 257;
inline constexpr std::int64_t readInvalidFileName = 258;
inline constexpr std::int64_t readCorruptFile = 259;
inline constexpr std::int64_t readNoSuchFile = 260;
inline constexpr std::int64_t readTooLarge = 263;
inline constexpr std::int64_t writeUnknown = CocoaError::fileWriteUnknown;  // 512
inline constexpr std::int64_t writeNoPermission = 513;
inline constexpr std::int64_t writeInvalidFileName = 514;
inline constexpr std::int64_t writeFileExists = 516;
inline constexpr std::int64_t writeOutOfSpace = 640;
inline constexpr std::int64_t writeVolumeReadOnly = 642;
}  // namespace FileErrorCode

inline constexpr const char* filePathErrorKey = "NSFilePath";
inline constexpr const char* underlyingErrorKey = "NSUnderlyingError";

enum class FileAccess { reading, writing };

// The error for a system call on `path` that failed with `errnoValue`. `action` is a short
// verb phrase for the description ("open", "rename", "remove"...).
Error makeFileError(int errnoValue, const std::string& path, FileAccess access,
                    const std::string& action);

// The host errno carried by an error made by makeFileError, if any.
std::optional<int> underlyingPOSIXCode(const Error& error);

}  // namespace pindle::platform
