// PPreferences: the legacy part's settings: where cached video files live, how much local
// storage they may take, bit rates and three switches. Nothing is persisted: every launch
// starts from the defaults.
//
// Every getter and setter takes the caller object and acts only for the internal-caller token
// (PNTokenObject); otherwise getters answer nothing or false and setters change nothing.
//
// Thread-safety: guarded by one lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Object.hpp"

namespace pindle::legacy {

class PPreferences {
  public:
    using Caller = std::shared_ptr<platform::Object>;

    static constexpr std::int64_t defaultLocalStorageSizeB = 209'715'200;  // 200 MiB

    PPreferences();
    PPreferences(const PPreferences&) = delete;
    PPreferences& operator=(const PPreferences&) = delete;

    bool autoVideoBitrateMode(const Caller& fromObject) const;
    void setAutoVideoBitrateMode(bool value, const Caller& fromObject);
    bool forceMP4loading(const Caller& fromObject) const;
    void setForceMP4loading(bool value, const Caller& fromObject);
    bool cacheVideo(const Caller& fromObject) const;
    void setCacheVideo(bool value, const Caller& fromObject);
    std::optional<std::int64_t> localStorageSizeB(const Caller& fromObject) const;
    void setLocalStorageSizeB(std::optional<std::int64_t> value, const Caller& fromObject);
    std::optional<double> videoBitrate(const Caller& fromObject) const;
    void setVideoBitrate(std::optional<double> value, const Caller& fromObject);
    std::optional<double> maxVideoBitrate(const Caller& fromObject) const;
    void setMaxVideoBitrate(std::optional<double> value, const Caller& fromObject);
    // Documents + "/psdk" by default; the folder is not created here.
    std::optional<std::string> cacheVideoDirectoryPath(const Caller& fromObject) const;
    void setCacheVideoDirectoryPath(std::optional<std::string> value, const Caller& fromObject);

  private:
    mutable std::mutex mutex_;
    bool autoVideoBitrateMode_ = true;                                          // guarded by mutex_
    bool forceMP4loading_ = true;                                               // guarded by mutex_
    bool cacheVideo_ = true;                                                    // guarded by mutex_
    std::optional<std::int64_t> localStorageSizeB_ = defaultLocalStorageSizeB;  // guarded by mutex_
    std::optional<double> videoBitrate_;                                        // guarded by mutex_
    std::optional<double> maxVideoBitrate_;                                     // guarded by mutex_
    bool cacheVideoDirectoryPathSet_ = false;                                   // guarded by mutex_
    std::optional<std::string> cacheVideoDirectoryPath_;                        // guarded by mutex_
};

}  // namespace pindle::legacy
