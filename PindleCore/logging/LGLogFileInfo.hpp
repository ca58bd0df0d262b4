// LGLogFileInfo: one log file: its path, its attributes (read once and kept until reset())
// and its "archived" mark, an extended attribute that survives restarts.
//
// Thread-safety: not safe for concurrent use; the file logger and the file manager use each
// info on one queue at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/files/FileAttributes.hpp"
#include "platform/foundation/Date.hpp"

namespace pindle {

class LGLogFileInfo {
  public:
    static constexpr const char* archivedAttributeName = "p.log.archived";

    static std::shared_ptr<LGLogFileInfo> logFileWithPath(std::string filePath);
    explicit LGLogFileInfo(std::string filePath);

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName() const;
    // Nothing when the file cannot be read.
    const std::optional<platform::FileAttributes>& fileAttributes() const;
    std::optional<platform::Date> creationDate() const;
    std::optional<platform::Date> modificationDate() const;
    std::uint64_t fileSize() const;
    // Seconds since the creation date, on the process clock (0 without a creation date).
    platform::TimeInterval age() const;

    bool isArchived() const;
    void setIsArchived(bool archived);

    // Forgets the cached name, attributes and dates (the cached size stays).
    void reset();
    // Renames the file within its folder, replacing a file of that name. Failures are
    // reported on standard error; the new path is taken in any case, except for a name that
    // is no file name of that folder (see PNSafePath), which renames nothing.
    void renameFile(const std::string& newFileName);

    bool hasExtendedAttributeWithName(const std::string& name) const;
    void addExtendedAttributeWithName(const std::string& name);
    void removeExtendedAttributeWithName(const std::string& name);

    bool operator==(const LGLogFileInfo& other) const { return filePath_ == other.filePath_; }
    // Newer first.
    static bool reverseCompareByCreationDate(const LGLogFileInfo& a, const LGLogFileInfo& b);
    static bool reverseCompareByModificationDate(const LGLogFileInfo& a, const LGLogFileInfo& b);

    std::string description() const;

  private:
    std::string filePath_;
    mutable std::optional<std::string> fileName_;
    mutable bool attributesRead_ = false;
    mutable std::optional<platform::FileAttributes> fileAttributes_;
    mutable std::uint64_t fileSize_ = 0;  // 0: not read yet
};

using LGLogFileInfoPtr = std::shared_ptr<LGLogFileInfo>;

}  // namespace pindle
