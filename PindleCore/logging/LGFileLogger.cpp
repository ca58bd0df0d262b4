#include "PindleCore/logging/LGFileLogger.hpp"

#include <algorithm>

#include "PindleCore/logging/LGLog.hpp"
#include "PindleCore/logging/LGLogFileFormatterDefault.hpp"
#include "PindleCore/logging/LGLogFileManagerDefault.hpp"
#include "PindleCore/logging/private/LGReport.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

std::atomic<std::uint64_t> writeFailures{0};

}  // namespace

LGFileLogger::LGFileLogger(LGLogFileManagerPtr logFileManager)
    : LGAbstractLogger(name),
      logFileManager_(logFileManager ? std::move(logFileManager)
                                     : std::make_shared<LGLogFileManagerDefault>()) {
    formatter_ = std::make_shared<LGLogFileFormatterDefault>();
}

LGFileLogger::~LGFileLogger() {
    // No queue work can be pending: every block holds a reference to the logger.
    if (currentLogFileWatcher_) {
        currentLogFileWatcher_->cancel();
    }
    if (rollingTimer_) {
        rollingTimer_->cancel();
    }
    if (currentLogFileHandle_) {
        writeGathered();
        currentLogFileHandle_->synchronize().ignoreError();
        currentLogFileHandle_->close().ignoreError();
    }
}

std::uint64_t LGFileLogger::maximumFileSize() const {
    std::uint64_t size = 0;
    syncOnLoggerQueue([&] { size = maximumFileSize_; });
    return size;
}

void LGFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    auto self = std::static_pointer_cast<LGFileLogger>(shared_from_this());
    runOnLoggerQueue([self, bytes] {
        self->maximumFileSize_ = bytes;
        self->maybeRollLogFileDueToSize();
    });
}

platform::TimeInterval LGFileLogger::rollingFrequency() const {
    platform::TimeInterval frequency = 0;
    syncOnLoggerQueue([&] { frequency = rollingFrequency_; });
    return frequency;
}

void LGFileLogger::setRollingFrequency(platform::TimeInterval seconds) {
    auto self = std::static_pointer_cast<LGFileLogger>(shared_from_this());
    runOnLoggerQueue([self, seconds] {
        self->rollingFrequency_ = seconds;
        self->maybeRollLogFileDueToAge();
    });
}

void LGFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    auto self = std::static_pointer_cast<LGFileLogger>(shared_from_this());
    runOnLoggerQueue([self, completion = std::move(completion)] {
        self->rollLogFileNow();
        if (completion) {
            platform::DispatchQueue::main()->async(completion);
        }
    });
}

LGLogFileInfoPtr LGFileLogger::currentLogFileInfo() {
    if (isOnInternalLoggerQueue()) {
        return lt_currentLogFileInfo();
    }
    LGLogFileInfoPtr info;
    syncOnLoggerQueue([&] { info = lt_currentLogFileInfo(); });
    return info;
}

std::shared_ptr<platform::FileHandle> LGFileLogger::currentLogFileHandle() {
    if (isOnInternalLoggerQueue()) {
        return lt_currentLogFileHandle();
    }
    std::shared_ptr<platform::FileHandle> handle;
    syncOnLoggerQueue([&] { handle = lt_currentLogFileHandle(); });
    return handle;
}

LGLogFileInfoPtr LGFileLogger::lt_currentLogFileInfo() {
    if (currentLogFileInfo_) {
        return currentLogFileInfo_;
    }
    auto infos = logFileManager_->sortedLogFileInfos();
    if (!infos.empty()) {
        const auto& newest = infos.front();
        bool archived = newest->isArchived();
        bool dueBySize = maximumFileSize_ != 0 && newest->fileSize() >= maximumFileSize_;
        bool dueByAge = rollingFrequency_ > 0 && newest->age() >= rollingFrequency_;
        bool due = !archived && (dueBySize || dueByAge);
        if (!doNotReuseLogFiles_.load() && !due && !archived) {
            currentLogFileInfo_ = newest;
        } else if (due) {
            newest->setIsArchived(true);
            logFileManager_->didArchiveLogFile(newest->filePath());
        }
    }
    if (!currentLogFileInfo_) {
        if (auto path = logFileManager_->createNewLogFile()) {
            currentLogFileInfo_ = LGLogFileInfo::logFileWithPath(*path);
        }
    }
    return currentLogFileInfo_;
}

std::shared_ptr<platform::FileHandle> LGFileLogger::lt_currentLogFileHandle() {
    if (currentLogFileHandle_) {
        return currentLogFileHandle_;
    }
    auto info = lt_currentLogFileInfo();
    if (!info) {
        return nullptr;
    }
    auto handle = platform::FileHandle::open(info->filePath(), platform::FileHandle::Mode::writing);
    if (!handle) {
        return nullptr;
    }
    auto end = handle->seekToEnd();
    if (!end) {
        return nullptr;
    }
    currentLogFileHandle_ = handle;
    writtenBytes_ = *end;
    scheduleTimerToRollLogFileDueToAge();
    currentLogFileWatcher_ = platform::FileWatcher::watch(
        info->filePath(), loggerQueue(),
        platform::weakly(
            this, [](LGFileLogger& self, platform::FileWatcher::Event) { self.rollLogFileNow(); }));
    return currentLogFileHandle_;
}

void LGFileLogger::scheduleTimerToRollLogFileDueToAge() {
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
    if (!currentLogFileInfo_ || rollingFrequency_ <= 0) {
        return;
    }
    auto created = currentLogFileInfo_->creationDate();
    platform::TimeInterval delay =
        created ? created->addingTimeInterval(rollingFrequency_).timeIntervalSinceNow() : 0;
    rollingTimer_ = platform::DispatchTimerSource::create(loggerQueue());
    rollingTimer_->setEventHandler(
        platform::weakly(this, [](LGFileLogger& self) { self.maybeRollLogFileDueToAge(); }));
    rollingTimer_->schedule(platform::DispatchTime::after(std::max(0.0, delay)));
    rollingTimer_->resume();
}

void LGFileLogger::maybeRollLogFileDueToAge() {
    if (rollingFrequency_ > 0 && currentLogFileInfo_ &&
        currentLogFileInfo_->age() >= rollingFrequency_) {
        rollLogFileNow();
    } else {
        scheduleTimerToRollLogFileDueToAge();
    }
}

void LGFileLogger::maybeRollLogFileDueToSize() {
    if (maximumFileSize_ == 0 || !currentLogFileHandle_) {
        return;
    }
    if (writtenBytes_ + gathered_.size() >= maximumFileSize_) {
        rollLogFileNow();
    }
}

void LGFileLogger::rollLogFileNow() {
    if (!currentLogFileHandle_) {
        return;
    }
    writeGathered();
    // A file deleted or moved away under the logger leaves nothing at its path to mark (or
    // someone else's file).
    bool stillAtPath = currentLogFileHandle_->isStillAtPath();
    currentLogFileHandle_->synchronize().ignoreError();
    currentLogFileHandle_->close().ignoreError();
    currentLogFileHandle_.reset();
    if (currentLogFileInfo_) {
        if (stillAtPath) {
            currentLogFileInfo_->setIsArchived(true);
        }
        logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
        currentLogFileInfo_.reset();
    }
    if (currentLogFileWatcher_) {
        currentLogFileWatcher_->cancel();
        currentLogFileWatcher_.reset();
    }
    if (rollingTimer_) {
        rollingTimer_->cancel();
        rollingTimer_.reset();
    }
}

void LGFileLogger::logMessage(const LGLogMessage& logMessage) {
    bool customFormatted = false;
    std::string storage;
    std::optional<std::string_view> text = formattedText(logMessage, storage, customFormatted);
    if (!text) {
        return;
    }
    auto handle = lt_currentLogFileHandle();
    if (handle && !currentLogFileWatcher_ && !handle->isStillAtPath()) {
        // Nothing watches this file (the system refused a watch): look before each line.
        rollLogFileNow();
        handle = lt_currentLogFileHandle();
    }
    if (!handle) {
        reportWriteFailure("no log file could be opened in " + logFileManager_->logsDirectory());
        return;
    }
    gathered_.insert(gathered_.end(), text->begin(), text->end());
    bool endsWithNewline = !text->empty() && text->back() == '\n';
    if (!endsWithNewline && (!customFormatted || appendNewline_.load())) {
        gathered_.push_back('\n');
    }
    ++gatheredLines_;
    maybeRollLogFileDueToSize();
    if (gathered_.size() >= gatherLimit) {
        writeGathered();
    }
}

void LGFileLogger::didLogMessageBatch() {
    writeGathered();
}

void LGFileLogger::writeGathered() {
    if (gathered_.empty()) {
        return;
    }
    // Lines are gathered only while a file is open, and a roll writes them before closing it.
    std::optional<platform::Error> error = currentLogFileHandle_->write(gathered_);
    if (error) {
        // Every line gathered is lost.
        for (std::uint64_t i = 0; i < gatheredLines_; ++i) {
            reportWriteFailure(error->description());
        }
    } else {
        writtenBytes_ += gathered_.size();
    }
    gathered_.clear();
    gatheredLines_ = 0;
}

void LGFileLogger::willRemoveLogger() {
    rollLogFileNow();
}

std::uint64_t LGFileLogger::writeFailureCount() {
    return writeFailures.load();
}

void LGFileLogger::reportWriteFailure(const std::string& reason) {
    std::uint64_t count = ++writeFailures;
    if (count <= reportedWriteFailures) {
        LGReport("LGFileLogger.logMessage: " + reason);
    }
    if (count == reportedWriteFailures) {
        LGReport("LGFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
    }
}

}  // namespace pindle
