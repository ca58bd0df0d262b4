// LGASLLogger: hands each log message to the process's system log (platform::SystemLog)
// through one client of the facility "com.apple.console", so the device console shows it.
//
// Flags map to system-log levels: error "2", warning "3", info "4", any other flag "5".
// Each record carries "Level", "Message" and "ReadUID" (the effective user id). Messages
// that log capture re-logged from the system log (file name "LGASLLogCapture") are not
// written back, so capture and this logger together do not loop.
//
// One process-wide instance.
//
// Thread-safety: every operation may be called from any thread; logMessage() runs on the
// logger's queue.
#pragma once

#include <memory>
#include <string>

#include "PindleCore/logging/LGAbstractLogger.hpp"
#include "platform/log/SystemLogClient.hpp"

namespace pindle {

class LGASLLogger final : public LGAbstractLogger {
  public:
    static constexpr const char* name = "p.logging.aslLogger";
    static constexpr const char* facility = "com.apple.console";
    // The file name of messages made by log capture.
    static constexpr const char* captureFileName = "LGASLLogCapture";

    static std::shared_ptr<LGASLLogger> sharedInstance();

    // The system-log level text for a message flag.
    static std::string levelForFlag(LGLogFlag flag);

    void logMessage(const LGLogMessage& logMessage) override;

    // Use sharedInstance().
    struct Private {
        explicit Private() = default;
    };
    explicit LGASLLogger(Private);

  private:
    platform::SystemLogClient client_;
};

}  // namespace pindle
