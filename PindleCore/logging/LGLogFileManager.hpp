// LGLogFileManager: what the rolling file logger asks of whoever decides where log files
// live: the folder, which files are log files (listed in any order or newest first), a new
// file when the logger rolls, and the limits on their number and total size.
//
// Thread-safety: implementations are called on the file logger's queue and, for the
// limits, from any thread; they must be safe for that.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/logging/LGLogFileInfo.hpp"

namespace pindle {

class LGLogFileManager {
  public:
    virtual ~LGLogFileManager() = default;

    virtual std::string logsDirectory() const = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() const = 0;
    virtual std::vector<std::string> unsortedLogFileNames() const = 0;
    virtual std::vector<LGLogFileInfoPtr> unsortedLogFileInfos() const = 0;
    // Newest creation date first.
    virtual std::vector<std::string> sortedLogFilePaths() const = 0;
    virtual std::vector<std::string> sortedLogFileNames() const = 0;
    virtual std::vector<LGLogFileInfoPtr> sortedLogFileInfos() const = 0;
    // The path of a new, empty log file; nothing when none could be made.
    virtual std::optional<std::string> createNewLogFile() = 0;

    // 0: no limit.
    virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;
    // Bytes; 0: no limit.
    virtual std::uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;

    // The logger marked a file archived before choosing a new one, or after rolling.
    virtual void didArchiveLogFile(const std::string& logFilePath) { (void)logFilePath; }
    virtual void didRollAndArchiveLogFile(const std::string& logFilePath) { (void)logFilePath; }
};

using LGLogFileManagerPtr = std::shared_ptr<LGLogFileManager>;

}  // namespace pindle
