#include "platform/files/FileError.hpp"

#include <cerrno>
#include <cstring>

namespace pindle::platform {

namespace {

std::int64_t codeFor(int errnoValue, FileAccess access) {
    const bool reading = access == FileAccess::reading;
    switch (errnoValue) {
        case ENOENT:
        case ENOTDIR:
            return reading ? FileErrorCode::readNoSuchFile : FileErrorCode::noSuchFile;
        case EACCES:
        case EPERM:
            return reading ? FileErrorCode::readNoPermission : FileErrorCode::writeNoPermission;
        case ENAMETOOLONG:
            return reading ? FileErrorCode::readInvalidFileName
                           : FileErrorCode::writeInvalidFileName;
        case EEXIST:
        case ENOTEMPTY:
            return reading ? FileErrorCode::readUnknown : FileErrorCode::writeFileExists;
        case ENOSPC:
        case EDQUOT:
            return reading ? FileErrorCode::readUnknown : FileErrorCode::writeOutOfSpace;
        case EROFS:
            return reading ? FileErrorCode::readUnknown : FileErrorCode::writeVolumeReadOnly;
        case EFBIG:
            return reading ? FileErrorCode::readTooLarge : FileErrorCode::writeOutOfSpace;
        case EWOULDBLOCK:
            return FileErrorCode::locking;
        default:
            return reading ? FileErrorCode::readUnknown : FileErrorCode::writeUnknown;
    }
}

std::string systemText(int errnoValue) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in `buffer`.
    return ::strerror_r(errnoValue, buffer, sizeof buffer);
}

}  // namespace

Error makeFileError(int errnoValue, const std::string& path, FileAccess access,
                    const std::string& action) {
    const std::string text = systemText(errnoValue);
    Dictionary underlyingInfo{{Error::localizedDescriptionKey, text}};
    Error underlying(POSIXError::domain, errnoValue, std::move(underlyingInfo));

    Dictionary info;
    info[filePathErrorKey] = path;
    info[underlyingErrorKey] = Value(underlying);
    info[Error::localizedDescriptionKey] = "Could not " + action + " \"" + path + "\": " + text;
    return Error(CocoaError::domain, codeFor(errnoValue, access), std::move(info));
}

std::optional<int> underlyingPOSIXCode(const Error& error) {
    const auto entry = error.userInfo().find(underlyingErrorKey);
    if (entry == error.userInfo().end())
        return std::nullopt;
    const auto inner = entry->second.asError();
    if (!inner || inner->domain() != POSIXError::domain)
        return std::nullopt;
    return static_cast<int>(inner->code());
}

}  // namespace pindle::platform
