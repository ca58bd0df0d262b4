// FileManager: the SDK's one way to the file system: items, folders, whole-file reads and
// atomic writes, attributes, extended attributes and free space.
//
// Paths are plain POSIX path strings. Failures come back as values, never as exceptions:
// operations without a result return std::optional<Error> (nothing on success); operations
// with a result return std::optional<T> and, when the caller passes an Error*, fill it on
// failure. The errors are those of FileError.hpp.
//
// Attributes use lstat semantics: a symbolic link is described as itself. Moving, copying
// and removing act on links, never on what they point to.
//
// Creation dates. Linux keeps a birth time only on some file systems; where statx gives
// none, the creation date comes from the extended attribute "user.pindle.created", which
// the SDK writes when it creates an item (createFile, createDirectory, copyItem,
// FileHandle with Creation::createIfMissing, and writeAtomically, whose every write makes a
// new file). For an item that has
// neither, the first reading records the earlier of its change and modification times:
// the latest moment at which it can have come into being, and one that stays put when the
// file is written later.
//
// Extended attributes live in the "user." namespace (added to names that lack it). Where
// the file system refuses them (ENOTSUP) they are kept in ExtendedAttributeStore for the
// life of the process, so callers need not care.
//
// Thread-safety: a FileManager holds only its immutable options; every operation is safe
// from any thread. Concurrent changes of the same items race as they do in the file system.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/DirectoryEnumerator.hpp"
#include "platform/files/FileAttributes.hpp"
#include "platform/files/FileVersion.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

class FileManager {
  public:
    // Seams for tests and for file systems with fewer features; the default manager uses
    // the defaults.
    struct Options {
        // Read statx birth times. Off: behave as on a file system without them.
        bool useBirthTime = true;
        // Use the file system's extended attributes. Off: behave as on one that refuses
        // them (everything goes to ExtendedAttributeStore).
        bool useExtendedAttributes = true;
        // Called by writeAtomically after the temporary file is written and synced, before
        // it is renamed over the destination. An error returned here fails the write as a
        // failed rename would: the temporary file is removed, the destination untouched.
        std::function<platform::Status(const std::string& temporaryPath)> beforeAtomicRename;
        // Called by moveItem before it moves anything. An error returned here fails the move:
        // nothing is moved.
        std::function<platform::Status(const std::string& from, const std::string& to)> beforeMove;
        // Called by removeItem before it removes anything. An error returned here fails the
        // removal: nothing is removed.
        std::function<platform::Status(const std::string& path)> beforeRemove;
        // Answers freeSpace in place of the volume, so that a full disk can be acted out;
        // nothing from it reads as "the volume's size is unknown".
        std::function<std::optional<std::uint64_t>(const std::string& path)> freeSpace;
    };

    static constexpr const char* creationDateAttribute = "pindle.created";

    // The process-wide manager with default options.
    static const FileManager& defaultManager();

    FileManager();
    explicit FileManager(Options options);
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    // --- Items ---

    // True when something exists at `path` (following a final symbolic link: a dangling
    // link does not exist). `isDirectory`, when given, tells whether it is a folder.
    bool fileExists(const std::string& path, bool* isDirectory = nullptr) const;
    // True when this process may write the item at `path` (for a folder: add and remove its
    // entries), as access(2) judges it: by the process's real ids, on a file system mounted
    // for writing.
    bool isWritableFile(const std::string& path) const;

    // Creates the folder. Without intermediates the parent must exist and the folder must
    // not; with them, missing parents are made and an existing folder is success.
    platform::Status createDirectory(const std::string& path,
                                     bool withIntermediateDirectories) const;

    // Creates (or replaces) a regular file holding `contents`, atomically.
    platform::Status createFile(const std::string& path, const Data& contents = {}) const;

    // Removes a file, a link or a whole folder tree.
    platform::Status removeItem(const std::string& path) const;

    // Moves an item. REQUIRES: nothing exists at `to` (else writeFileExists). Works across
    // file systems by copying and removing.
    platform::Status moveItem(const std::string& from, const std::string& to) const;

    // Copies a file, a link (as a link) or a whole folder tree, keeping permission bits and
    // modification dates. REQUIRES: nothing exists at `to`. A failed copy leaves nothing
    // behind at `to`.
    platform::Status copyItem(const std::string& from, const std::string& to) const;

    // Gives the file at `from` a second name `to` (a hard link), so that it survives the removal
    // of either name; where the file system cannot link (another volume, no support), copies
    // it. REQUIRES: nothing exists at `to`.
    platform::Status linkItem(const std::string& from, const std::string& to) const;

    std::optional<FileAttributes> attributesOfItem(const std::string& path,
                                                   Error* error = nullptr) const;

    // The version of the file at `path` (following a final symbolic link), for telling
    // whether it changed since it was last read; nothing when there is none. One stat and
    // nothing more, so callers may ask before every read.
    std::optional<FileVersion> versionOfItem(const std::string& path) const;

    platform::Status setModificationDate(const std::string& path, Date date) const;

    // --- Folders ---

    // Names of the folder's entries (not "." and ".."), sorted.
    std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path,
                                                                Error* error = nullptr) const;

    // Paths, relative to `path`, of everything below it, in the order of DirectoryEnumerator.
    // Subfolders that cannot be read are left out.
    std::optional<std::vector<std::string>> subpathsOfDirectory(const std::string& path,
                                                                Error* error = nullptr) const;

    // A lazy deep walk; see DirectoryEnumerator. nullptr when `path` cannot be read.
    std::unique_ptr<DirectoryEnumerator> enumerator(
        const std::string& path, DirectoryEnumerator::ErrorHandler errorHandler = {},
        Error* error = nullptr) const;

    // --- Contents ---

    std::optional<Data> contentsOfFile(const std::string& path, Error* error = nullptr) const;

    // Replaces the file at `path` so that a reader, or a crash at any moment, sees either the
    // old contents or the new, never a mix: the bytes go to a temporary file in the same
    // folder, which is synced and renamed over `path`; then the folder is synced. An existing
    // file's permission bits carry over.
    platform::Status writeAtomically(const std::string& path, const Data& contents) const;

    // --- Volumes ---

    // Bytes available to unprivileged users on the volume holding `path`.
    std::optional<std::uint64_t> freeSpace(const std::string& path, Error* error = nullptr) const;

    // --- Extended attributes ---

    std::optional<Data> extendedAttribute(const std::string& path, const std::string& name,
                                          Error* error = nullptr) const;
    bool hasExtendedAttribute(const std::string& path, const std::string& name) const;
    platform::Status setExtendedAttribute(const std::string& path, const std::string& name,
                                          const Data& value) const;
    // Removing an attribute that is not there is success.
    platform::Status removeExtendedAttribute(const std::string& path,
                                             const std::string& name) const;

    // Notes "now" as the creation date of an item just created, where the file system keeps
    // no birth time of its own. FileHandle calls this; callers of FileManager need not.
    void recordCreation(const std::string& path) const;

  private:
    std::optional<Date> recordedCreationDate(const std::string& path) const;
    bool hasBirthTime(const std::string& path) const;
    platform::Status copyTree(const std::string& from, const std::string& to) const;
    platform::Status copyFile(const std::string& from, const std::string& to) const;
    platform::Status removeTree(const std::string& path) const;

    const Options options_;
};

}  // namespace pindle::platform
