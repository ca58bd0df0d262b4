// PLog: the legacy classes' logging set-up: the level they log at, one on/off switch per
// area of the code, the start-up routine that installs the loggers, and the one way every
// legacy call site logs (PLOG).
//
// A call site names its area switch and a flag (info or error) and gives a printf format
// that begins with the switch name ("PLog_Capture Starting capture"). When the switch is
// off, or the level lacks the flag, nothing happens and the arguments are not evaluated.
// Otherwise the message goes to the hub: asynchronously for info (the call returns once it
// is queued), synchronously for errors (it returns once every logger has written it).
//
// Switches may be changed by the host at any time; a change takes effect at the next call
// site that tests it. Only PLog_Capture, PLog_TSUO and PLog_Uploading are on by default.
//
// Thread-safety: every switch is atomic; PLogInit() may be called from any thread, any
// number of times.
#pragma once

#include <atomic>

#include "PindleCore/logging/LGLog.hpp"
#include "PindleCore/logging/LGLogFlag.hpp"

namespace pindle::legacy {

// Error, warning, info, debug and verbose.
inline constexpr LGLogLevel myLibLogLevel = LGLogLevelAllFlags;

// On by default.
extern std::atomic<bool> PLog_Capture;
extern std::atomic<bool> PLog_TSUO;
extern std::atomic<bool> PLog_Uploading;
// Off by default.
extern std::atomic<bool> PLog_Global;
extern std::atomic<bool> PLog_Background;
extern std::atomic<bool> PLog_FileSystem;
extern std::atomic<bool> PLog_TwitterAPI;
extern std::atomic<bool> PLog_APNService;
extern std::atomic<bool> PLog_Auth;
extern std::atomic<bool> PLog_DNS;
extern std::atomic<bool> PLog_DDM;
extern std::atomic<bool> PLog_M3U;
extern std::atomic<bool> PLog_DV;
extern std::atomic<bool> PLog_DDRO;
extern std::atomic<bool> PLog_DTSO;
extern std::atomic<bool> PLog_HLSS;
extern std::atomic<bool> PLog_ImageCache;
extern std::atomic<bool> PLog_Metadata;
extern std::atomic<bool> PLog_LVL;
extern std::atomic<bool> PLog_MovieWriter;
extern std::atomic<bool> PLog_PPC;
extern std::atomic<bool> PLog_Preload;
extern std::atomic<bool> PLog_QRScanner;
extern std::atomic<bool> PLog_QLDM;
extern std::atomic<bool> PLog_RawUpload;
extern std::atomic<bool> PLog_Recorder;
extern std::atomic<bool> PLog_REWRS;
extern std::atomic<bool> PLog_Request;
extern std::atomic<bool> PLog_AUO;
extern std::atomic<bool> PLog_Video;
extern std::atomic<bool> PLog_VideoCamera;
extern std::atomic<bool> PLog_VPV;
extern std::atomic<bool> PLog_DVTS;
extern std::atomic<bool> PLog_AvatarGen;
extern std::atomic<bool> PLog_AM;
extern std::atomic<bool> PLog_GM;
extern std::atomic<bool> PLog_PM;
extern std::atomic<bool> PLog_UM;
extern std::atomic<bool> PLog_URM;
extern std::atomic<bool> PLog_VM;
extern std::atomic<bool> PLog_SM;
extern std::atomic<bool> PLog_ShM;
extern std::atomic<bool> PLog_SAM;
extern std::atomic<bool> PLog_Social;
extern std::atomic<bool> PLog_USM;
extern std::atomic<bool> PLog_Mapper;
extern std::atomic<bool> PLog_Core;

// Adds the shared system-log logger, then the shared console logger, to the hub with every
// flag enabled, each only when the hub does not hold it already, so calling it again adds
// nothing.
void PLogInit();

// Whether a call site of `flag` is asynchronous: every flag but error is.
constexpr bool PLogIsAsynchronous(LGLogFlag flag) {
    return flag != LGLogFlagError;
}

}  // namespace pindle::legacy

// Logs under the area switch `area` (an identifier such as PLog_Capture) at `flag`.
#define PLOG(area, flag, format, ...)                                                  \
    do {                                                                               \
        if (::pindle::legacy::area.load(std::memory_order_relaxed) &&                  \
            (::pindle::legacy::myLibLogLevel & (flag)) != 0) {                         \
            ::pindle::LGLog::log(::pindle::legacy::PLogIsAsynchronous(flag),           \
                                 ::pindle::legacy::myLibLogLevel, (flag), 0, __FILE__, \
                                 __PRETTY_FUNCTION__, __LINE__, nullptr,               \
                                 format __VA_OPT__(, ) __VA_ARGS__);                   \
        }                                                                              \
    } while (false)

#define PLOG_INFO(area, format, ...) \
    PLOG(area, ::pindle::LGLogFlagInfo, format __VA_OPT__(, ) __VA_ARGS__)
#define PLOG_ERROR(area, format, ...) \
    PLOG(area, ::pindle::LGLogFlagError, format __VA_OPT__(, ) __VA_ARGS__)
