// LGLogFileManagerDefault: keeps log files in one folder (by default "Logs" in the
// application's caches folder), named "<app> <yyyy-MM-dd HH-mm>.log" after the creation
// time in GMT, with " 2", " 3"... before ".log" when that name is taken. <app> is the
// application identifier (the process name when the host set none).
//
// Each new file is created exclusively, trying the next counter on a collision, so two
// loggers creating files in the same minute never share one. After creating a file it
// deletes old ones: everything beyond maximumNumberOfLogFiles (newest first), and
// everything from the file at which the sizes added up from the newest exceed the disk
// quota, always keeping the newest file unless it is archived (it is the one in use).
//
// The limits are plain stores: changing them deletes nothing until the next file is made.
//
// Platform file protection does not exist here; the protection level is kept for hosts
// that read it back.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "PindleCore/logging/LGLogFileManager.hpp"
#include "platform/foundation/DateFormatter.hpp"

namespace pindle {

class LGLogFileManagerDefault : public LGLogFileManager {
  public:
    static constexpr std::uint64_t defaultMaximumNumberOfLogFiles = 5;
    static constexpr std::uint64_t defaultLogFilesDiskQuota = 20 * 1024 * 1024;
    static constexpr const char* fileNameDatePattern = "yyyy'-'MM'-'dd' 'HH'-'mm";
    static constexpr const char* logFileExtension = ".log";

    // Without a folder, defaultLogsDirectory(). A protection level other than the
    // platform's four ("NSFileProtectionNone", "NSFileProtectionComplete",
    // "NSFileProtectionCompleteUnlessOpen",
    // "NSFileProtectionCompleteUntilFirstUserAuthentication") is ignored.
    explicit LGLogFileManagerDefault(
        std::optional<std::string> logsDirectory = std::nullopt,
        std::optional<std::string> defaultFileProtectionLevel = std::nullopt);
    LGLogFileManagerDefault(const LGLogFileManagerDefault&) = delete;
    LGLogFileManagerDefault& operator=(const LGLogFileManagerDefault&) = delete;

    static std::string defaultLogsDirectory();

    // Creates the folder when missing; a failure is reported on standard error and the path
    // returned anyway.
    std::string logsDirectory() const override;
    std::vector<std::string> unsortedLogFilePaths() const override;
    std::vector<std::string> unsortedLogFileNames() const override;
    std::vector<LGLogFileInfoPtr> unsortedLogFileInfos() const override;
    std::vector<std::string> sortedLogFilePaths() const override;
    std::vector<std::string> sortedLogFileNames() const override;
    std::vector<LGLogFileInfoPtr> sortedLogFileInfos() const override;
    std::optional<std::string> createNewLogFile() override;

    std::uint64_t maximumNumberOfLogFiles() const override { return maximumNumberOfLogFiles_; }
    void setMaximumNumberOfLogFiles(std::uint64_t count) override {
        maximumNumberOfLogFiles_ = count;
    }
    std::uint64_t logFilesDiskQuota() const override { return logFilesDiskQuota_; }
    void setLogFilesDiskQuota(std::uint64_t bytes) override { logFilesDiskQuota_ = bytes; }

    const std::optional<std::string>& defaultFileProtectionLevel() const {
        return defaultFileProtectionLevel_;
    }

    // Whether `fileName` names a log file of this application.
    bool isLogFile(const std::string& fileName) const;
    // The name for a file created now (without a collision counter).
    std::string newLogFileName() const;
    // Writes and reads the date part of file names: fileNameDatePattern in GMT. Immutable, so
    // one formatter serves every thread.
    const platform::DateFormatter& logFileDateFormatter() const { return logFileDateFormatter_; }
    const std::string& applicationName() const { return applicationName_; }

    void deleteOldLogFiles();

  private:
    const std::string logsDirectory_;
    const std::optional<std::string> defaultFileProtectionLevel_;
    const std::string applicationName_;
    const platform::DateFormatter logFileDateFormatter_;
    std::atomic<std::uint64_t> maximumNumberOfLogFiles_{defaultMaximumNumberOfLogFiles};
    std::atomic<std::uint64_t> logFilesDiskQuota_{defaultLogFilesDiskQuota};
};

}  // namespace pindle
