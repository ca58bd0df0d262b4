// PFileSystemUtil: plain file operations for the legacy classes: sizes, listings, creating,
// appending, moving, reading byte ranges and deleting.
//
// Failures are not returned: the operations that can meet one log it under the area switch
// PLog_FileSystem (off by default) and carry on; reads of missing files give empty results.
//
// Thread-safety: stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle::legacy {

class PFileSystemUtil {
  public:
    PFileSystemUtil() = delete;

    // 0 when nothing exists at the path.
    static std::uint64_t getFileSize(const std::string& path);
    // The sizes of every item below the folder, folders counting with their own size.
    static std::uint64_t getFolderSize(const std::string& path);
    static void deletePath(const std::string& path);
    // Every item below the folder as a full path, in enumeration order.
    static std::vector<std::string> recursiveItemsInDirectory(const std::string& path);
    // The folder's own entries as full paths.
    static std::vector<std::string> nonRecursiveItemsInDirectory(const std::string& path);
    // The folder's own entry names that exist when tested.
    static std::vector<std::string> nonRecursiveItemsInDirectoryInternal(const std::string& path);
    // Full paths of the own entries whose name starts with `prefix`.
    static std::vector<std::string> nonRecursiveItemsInDirectory(const std::string& path,
                                                                 const std::string& prefix);
    static void createFolderIfNotExist(const std::string& path);
    // Removes every item of the recursive listing, one by one, going on after failures.
    static void clearFolder(const std::string& path);
    static void printError(const std::optional<platform::Error>& error);
    static bool fileExist(const std::string& path);
    // Creates the parent folder when missing, then the file, replacing an existing one.
    static void createFile(const std::string& path, const platform::Data& data);
    // Appends to an existing file; a missing file is left missing.
    static void appendFile(const std::string& path, const platform::Data& data);
    static bool moveFile(const std::string& from, const std::string& to);
    // Up to `length` bytes from `location`; fewer at the end of the file.
    static platform::Data readDataFromFile(const std::string& path, std::uint64_t location,
                                           std::size_t length);
    static std::optional<platform::Data> readDataFromFile(const std::string& path);
};

}  // namespace pindle::legacy
