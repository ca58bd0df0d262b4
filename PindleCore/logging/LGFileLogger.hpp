// LGFileLogger: writes log messages to files of a logs folder, one current file at a time,
// and rolls to a new file when the current one reaches maximumFileSize, reaches the age
// rollingFrequency (on the process clock), is deleted or renamed under it, or when the
// logger is removed from the hub or told to roll. A rolled file is marked archived.
//
// The current file is chosen at the first message: the newest log file when reuse is
// allowed and it is neither archived nor due for rolling, else a new one from the file
// manager (which names it and deletes old files). A watcher on the current file rolls it
// when the file is deleted or renamed; the identity check (is the file still at its path?)
// runs only on a roll, so a roll never marks someone else's file archived, and before each
// line only while the system refuses to watch the file.
//
// Lines of one batch from the hub are gathered and written with one write when the batch
// ends, or earlier when the gathered text reaches gatherLimit or a roll is due. The size
// limit counts gathered bytes, so files roll at the same line as with one write per line.
//
// Lines use LGLogFileFormatterDefault ("yyyy/MM/dd HH:mm:ss:SSS  text") unless another
// formatter is set. A failed write loses its message; the first ten failures of the process
// are reported on standard error.
//
// Thread-safety: the public operations may be called from any thread, except where a
// REQUIRES line says otherwise. All file work, the age timer and the file watcher run on
// the logger's queue; the roll completion runs on the main queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "PindleCore/logging/LGAbstractLogger.hpp"
#include "PindleCore/logging/LGLogFileInfo.hpp"
#include "PindleCore/logging/LGLogFileManager.hpp"
#include "platform/dispatch/DispatchTimerSource.hpp"
#include "platform/files/FileHandle.hpp"
#include "platform/files/FileWatcher.hpp"

namespace pindle {

class LGFileLogger : public LGAbstractLogger {
  public:
    static constexpr const char* name = "p.logging.fileLogger";
    static constexpr std::uint64_t defaultMaximumFileSize = 1024 * 1024;
    static constexpr platform::TimeInterval defaultRollingFrequency = 24 * 60 * 60;
    static constexpr std::uint64_t reportedWriteFailures = 10;
    static constexpr std::size_t gatherLimit = 64 * 1024;

    // Without a manager, a new LGLogFileManagerDefault.
    explicit LGFileLogger(LGLogFileManagerPtr logFileManager = nullptr);
    ~LGFileLogger() override;

    const LGLogFileManagerPtr& logFileManager() const { return logFileManager_; }

    // REQUIRES (getters): not on the logging queue or the logger's queue.
    std::uint64_t maximumFileSize() const;
    // Asynchronous; rolls at once when the current file is already that large (0: no limit).
    void setMaximumFileSize(std::uint64_t bytes);
    platform::TimeInterval rollingFrequency() const;
    // Asynchronous; rolls at once when the current file is already that old (0 or less: no
    // limit).
    void setRollingFrequency(platform::TimeInterval seconds);

    bool doNotReuseLogFiles() const { return doNotReuseLogFiles_.load(); }
    void setDoNotReuseLogFiles(bool doNotReuse) { doNotReuseLogFiles_.store(doNotReuse); }
    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_.load(); }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool append) {
        appendNewline_.store(append);
    }

    // Rolls on the logger's queue, then runs `completion` (if any) on the main queue.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);
    void rollLogFile() { rollLogFileWithCompletionBlock(nullptr); }

    // The current file, choosing it when there is none. REQUIRES: not on the logging queue;
    // on the logger's queue it answers directly.
    LGLogFileInfoPtr currentLogFileInfo();
    // The current file opened for writing at its end, choosing and opening it when there is
    // none; nothing when it cannot be opened. The logger writes its gathered lines through
    // this handle, on its queue; bytes a host writes through it land between batches and do
    // not count toward maximumFileSize. A roll closes the handle. REQUIRES: not on the logging
    // queue; on the logger's queue it answers directly.
    std::shared_ptr<platform::FileHandle> currentLogFileHandle();

    void logMessage(const LGLogMessage& logMessage) override;
    void didLogMessageBatch() override;
    void willRemoveLogger() override;

    // How many writes failed in this process.
    static std::uint64_t writeFailureCount();

  protected:
    // Logger-queue work, for subclasses that extend it.
    void rollLogFileNow();
    void maybeRollLogFileDueToAge();
    void maybeRollLogFileDueToSize();
    void scheduleTimerToRollLogFileDueToAge();
    LGLogFileInfoPtr lt_currentLogFileInfo();
    std::shared_ptr<platform::FileHandle> lt_currentLogFileHandle();

  private:
    void reportWriteFailure(const std::string& reason);
    // Writes the gathered lines to the current file; a failure loses them.
    void writeGathered();

    const LGLogFileManagerPtr logFileManager_;
    std::atomic<bool> doNotReuseLogFiles_{false};
    std::atomic<bool> appendNewline_{true};

    // Touched only on the logger's queue.
    std::uint64_t maximumFileSize_ = defaultMaximumFileSize;
    platform::TimeInterval rollingFrequency_ = defaultRollingFrequency;
    LGLogFileInfoPtr currentLogFileInfo_;
    std::shared_ptr<platform::FileHandle> currentLogFileHandle_;
    std::uint64_t writtenBytes_ = 0;  // the current file's size as written through the handle
    platform::Data gathered_;         // lines not yet written to the current file
    std::uint64_t gatheredLines_ = 0;
    std::unique_ptr<platform::FileWatcher> currentLogFileWatcher_;
    platform::DispatchTimerSourcePtr rollingTimer_;
};

}  // namespace pindle
