#include "PindleCore/legacy/PPreferences.hpp"

#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/files/AppContainer.hpp"

namespace pindle::legacy {

namespace {

constexpr const char* cacheFolderName = "psdk";

}  // namespace

PPreferences::PPreferences() = default;

std::optional<std::string> PPreferences::cacheVideoDirectoryPath(const Caller& fromObject) const {
    if (!PNTokenObject::itsMe(fromObject))
        return std::nullopt;
    std::lock_guard lock(mutex_);
    if (!cacheVideoDirectoryPathSet_) {
        // Worked out when asked, so it follows the application's home.
        return platform::AppContainer::documentsPath() + "/" + cacheFolderName;
    }
    return cacheVideoDirectoryPath_;
}

void PPreferences::setCacheVideoDirectoryPath(std::optional<std::string> value,
                                              const Caller& fromObject) {
    if (!PNTokenObject::itsMe(fromObject))
        return;
    std::lock_guard lock(mutex_);
    cacheVideoDirectoryPathSet_ = true;
    cacheVideoDirectoryPath_ = std::move(value);
}

// Getter and setter of one guarded value: the getter answers `none` and the setter does
// nothing unless the caller is the internal-caller token.
#define PINDLE_GUARDED_PREFERENCE(Type, getter, setter, member, none) \
    Type PPreferences::getter(const Caller& fromObject) const {       \
        if (!PNTokenObject::itsMe(fromObject))                        \
            return none;                                              \
        std::lock_guard lock(mutex_);                                 \
        return member;                                                \
    }                                                                 \
    void PPreferences::setter(Type value, const Caller& fromObject) { \
        if (!PNTokenObject::itsMe(fromObject))                        \
            return;                                                   \
        std::lock_guard lock(mutex_);                                 \
        member = std::move(value);                                    \
    }

PINDLE_GUARDED_PREFERENCE(bool, autoVideoBitrateMode, setAutoVideoBitrateMode,
                          autoVideoBitrateMode_, false)
PINDLE_GUARDED_PREFERENCE(bool, forceMP4loading, setForceMP4loading, forceMP4loading_, false)
PINDLE_GUARDED_PREFERENCE(bool, cacheVideo, setCacheVideo, cacheVideo_, false)
PINDLE_GUARDED_PREFERENCE(std::optional<std::int64_t>, localStorageSizeB, setLocalStorageSizeB,
                          localStorageSizeB_, std::nullopt)
PINDLE_GUARDED_PREFERENCE(std::optional<double>, videoBitrate, setVideoBitrate, videoBitrate_,
                          std::nullopt)
PINDLE_GUARDED_PREFERENCE(std::optional<double>, maxVideoBitrate, setMaxVideoBitrate,
                          maxVideoBitrate_, std::nullopt)

#undef PINDLE_GUARDED_PREFERENCE

}  // namespace pindle::legacy
