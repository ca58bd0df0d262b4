// LGASLLogCapture: reads new records of the process's system log back and logs them through
// the hub, so that lines other parts of the process sent to the system log reach the hub's
// loggers too. Nothing starts it inside the SDK; a host may.
//
// A capture run notes its start time and then, on each system-log change notification,
// logs every record newer than the last it saw (the first time: every record since the
// start), at levels 0-7. Levels map to flags: 0-2 error (logged synchronously), 3 warning,
// 4 info, 5 debug, anything else verbose (all asynchronously); flags outside captureLevel()
// are dropped. Re-logged messages carry the file name "LGASLLogCapture", which the
// system-log logger does not write back.
//
// Each run has a generation; a run's handler ends its registration as soon as its
// generation is no longer current, so stop() followed at once by start() leaves one run,
// never two that would log each record twice.
//
// Thread-safety: every operation may be called from any thread. The handler runs on the
// high-priority global queue.
#pragma once

#include <cstdint>

#include "PindleCore/logging/LGLogFlag.hpp"
#include "platform/log/SystemLogMessage.hpp"
#include "platform/log/SystemLogQuery.hpp"

namespace pindle {

class LGASLLogCapture {
  public:
    LGASLLogCapture() = delete;

    static constexpr const char* fileName = "LGASLLogCapture";
    static constexpr const char* highestCapturedLevel = "7";

    // Starts a run unless one is running.
    static void start();
    // The running run ends at the next system-log notification.
    static void stop();
    static bool isRunning();

    static LGLogLevel captureLevel();
    static void setCaptureLevel(LGLogLevel level);

    // Restricts `query` to the captured levels.
    static void configureAslQuery(platform::SystemLogQuery& query);
    // Logs one system-log record through the hub (records without a message are ignored).
    static void aslMessageRecieved(const platform::SystemLogMessage& record);
};

}  // namespace pindle
