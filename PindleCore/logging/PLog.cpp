#include "PindleCore/logging/PLog.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

#include "PindleCore/logging/LGASLLogger.hpp"
#include "PindleCore/logging/LGTTYLogger.hpp"

namespace pindle::legacy {

std::atomic<bool> PLog_Capture{true};
std::atomic<bool> PLog_TSUO{true};
std::atomic<bool> PLog_Uploading{true};
std::atomic<bool> PLog_Global{false};
std::atomic<bool> PLog_Background{false};
std::atomic<bool> PLog_FileSystem{false};
std::atomic<bool> PLog_TwitterAPI{false};
std::atomic<bool> PLog_APNService{false};
std::atomic<bool> PLog_Auth{false};
std::atomic<bool> PLog_DNS{false};
std::atomic<bool> PLog_DDM{false};
std::atomic<bool> PLog_M3U{false};
std::atomic<bool> PLog_DV{false};
std::atomic<bool> PLog_DDRO{false};
std::atomic<bool> PLog_DTSO{false};
std::atomic<bool> PLog_HLSS{false};
std::atomic<bool> PLog_ImageCache{false};
std::atomic<bool> PLog_Metadata{false};
std::atomic<bool> PLog_LVL{false};
std::atomic<bool> PLog_MovieWriter{false};
std::atomic<bool> PLog_PPC{false};
std::atomic<bool> PLog_Preload{false};
std::atomic<bool> PLog_QRScanner{false};
std::atomic<bool> PLog_QLDM{false};
std::atomic<bool> PLog_RawUpload{false};
std::atomic<bool> PLog_Recorder{false};
std::atomic<bool> PLog_REWRS{false};
std::atomic<bool> PLog_Request{false};
std::atomic<bool> PLog_AUO{false};
std::atomic<bool> PLog_Video{false};
std::atomic<bool> PLog_VideoCamera{false};
std::atomic<bool> PLog_VPV{false};
std::atomic<bool> PLog_DVTS{false};
std::atomic<bool> PLog_AvatarGen{false};
std::atomic<bool> PLog_AM{false};
std::atomic<bool> PLog_GM{false};
std::atomic<bool> PLog_PM{false};
std::atomic<bool> PLog_UM{false};
std::atomic<bool> PLog_URM{false};
std::atomic<bool> PLog_VM{false};
std::atomic<bool> PLog_SM{false};
std::atomic<bool> PLog_ShM{false};
std::atomic<bool> PLog_SAM{false};
std::atomic<bool> PLog_Social{false};
std::atomic<bool> PLog_USM{false};
std::atomic<bool> PLog_Mapper{false};
std::atomic<bool> PLog_Core{false};

void PLogInit() {
    // Adds whichever of the two is missing rather than running once per process, so a host
    // that removed every logger gets them back and repeated calls add no duplicates.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const std::vector<LGLoggerPtr> present = LGLog::allLoggers();
    const LGLoggerPtr standard[] = {LGASLLogger::sharedInstance(), LGTTYLogger::sharedInstance()};
    for (const LGLoggerPtr& logger : standard) {
        if (std::find(present.begin(), present.end(), logger) == present.end())
            LGLog::addLogger(logger);
    }
}

}  // namespace pindle::legacy
