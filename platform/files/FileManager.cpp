#include "platform/files/FileManager.hpp"
#include "platform/files/private/WriteAll.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <random>

#include "platform/files/FileError.hpp"
#include "platform/files/private/ExtendedAttributeStore.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::platform {

namespace {

constexpr const char* userNamespace = "user.";
constexpr std::size_t copyChunkSize = 1 << 20;
constexpr std::size_t readGrowthStep = 64 * 1024;
constexpr int temporaryNameAttempts = 16;
constexpr mode_t newItemMode = 0666;
constexpr mode_t newFolderMode = 0777;

class ScopedFd {
  public:
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd() { reset(); }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the close's own failure (it can carry a deferred write error).
    int closeNow() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

Date dateOf(const struct statx_timestamp& t) {
    return Date::fromTimeIntervalSince1970(static_cast<double>(t.tv_sec) +
                                           static_cast<double>(t.tv_nsec) * 1e-9);
}

bool before(const struct statx_timestamp& a, const struct statx_timestamp& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::string timestampText(const struct statx_timestamp& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRIu32, static_cast<std::int64_t>(t.tv_sec),
                  t.tv_nsec);
    return text;
}

std::string attributeName(const std::string& name) {
    return name.rfind(userNamespace, 0) == 0 ? name : userNamespace + name;
}

std::optional<ExtendedAttributeStore::FileKey> fileKey(const std::string& path, int* failure) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *failure = errno;
        return std::nullopt;
    }
    return ExtendedAttributeStore::FileKey{static_cast<std::uint64_t>(info.st_dev),
                                           static_cast<std::uint64_t>(info.st_ino)};
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string lastComponentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string uniqueSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[64];
    std::snprintf(text, sizeof text, "%d-%" PRIu64 "-%08" PRIx64, static_cast<int>(::getpid()),
                  counter.fetch_add(1), random() & 0xffffffffu);
    return text;
}

}  // namespace

const FileManager& FileManager::defaultManager() {
    static auto* manager = new FileManager();  // never destroyed: see ARCHITECTURE
    return *manager;
}

FileManager::FileManager() : FileManager(Options{}) {}

FileManager::FileManager(Options options) : options_(std::move(options)) {}

// --- Items ---

bool FileManager::fileExists(const std::string& path, bool* isDirectory) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    if (isDirectory != nullptr)
        *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

bool FileManager::isWritableFile(const std::string& path) const {
    return ::access(path.c_str(), W_OK) == 0;
}

platform::Status FileManager::createDirectory(const std::string& path,
                                              bool withIntermediateDirectories) const {
    if (!withIntermediateDirectories) {
        if (::mkdir(path.c_str(), newFolderMode) != 0)
            return makeFileError(errno, path, FileAccess::writing, "create folder");
        recordCreation(path);
        return std::nullopt;
    }
    // Most calls find the folder there already: one look instead of a walk from the root.
    bool isFolder = false;
    if (fileExists(path, &isFolder) && isFolder)
        return std::nullopt;
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        const std::string prefix = path.substr(0, position);
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), newFolderMode) == 0) {
            recordCreation(prefix);
            continue;
        }
        const int failure = errno;
        bool isDirectory = false;
        if (failure == EEXIST && fileExists(prefix, &isDirectory) && isDirectory)
            continue;
        return makeFileError(failure == EEXIST ? ENOTDIR : failure, prefix, FileAccess::writing,
                             "create folder");
    }
    return std::nullopt;
}

platform::Status FileManager::createFile(const std::string& path, const Data& contents) const {
    return writeAtomically(path, contents);
}

platform::Status FileManager::removeItem(const std::string& path) const {
    if (options_.beforeRemove) {
        if (platform::Status refused = options_.beforeRemove(path); !refused.ok())
            return refused;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return makeFileError(errno, path, FileAccess::writing, "remove");
    if (S_ISDIR(info.st_mode))
        return removeTree(path);
    if (::unlink(path.c_str()) != 0)
        return makeFileError(errno, path, FileAccess::writing, "remove");
    if (info.st_nlink <= 1) {
        ExtendedAttributeStore::shared().forget(
            {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)});
    }
    return std::nullopt;
}

platform::Status FileManager::removeTree(const std::string& path) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return makeFileError(errno, path, FileAccess::writing, "remove");
    if (S_ISDIR(info.st_mode)) {
        Error error;
        auto names = contentsOfDirectory(path, &error);
        if (!names)
            return error;
        for (const auto& name : *names) {
            if (platform::Status failure = removeTree(joinPath(path, name)); !failure.ok())
                return failure;
        }
        if (::rmdir(path.c_str()) != 0)
            return makeFileError(errno, path, FileAccess::writing, "remove folder");
        ExtendedAttributeStore::shared().forget(
            {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)});
        return std::nullopt;
    }
    return removeItem(path);
}

platform::Status FileManager::moveItem(const std::string& from, const std::string& to) const {
    if (options_.beforeMove) {
        if (platform::Status refused = options_.beforeMove(from, to); !refused.ok())
            return refused;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    int failure = errno;
    if (failure == EINVAL || failure == ENOSYS) {
        // The file system cannot refuse a replacement by itself: check first, then rename.
        struct stat info {};
        if (::lstat(to.c_str(), &info) == 0)
            return makeFileError(EEXIST, to, FileAccess::writing, "move to");
        if (::rename(from.c_str(), to.c_str()) == 0)
            return std::nullopt;
        failure = errno;
    }
    if (failure != EXDEV)
        return makeFileError(failure, from, FileAccess::writing, "move");
    if (platform::Status status = copyItem(from, to); !status.ok())
        return status;
    return removeItem(from);
}

platform::Status FileManager::linkItem(const std::string& from, const std::string& to) const {
    if (::link(from.c_str(), to.c_str()) == 0)
        return std::nullopt;
    const int failure = errno;
    if (failure == EXDEV || failure == EPERM || failure == ENOTSUP || failure == EMLINK)
        return copyItem(from, to);
    return makeFileError(failure, failure == ENOENT ? from : to,
                         failure == ENOENT ? FileAccess::reading : FileAccess::writing, "link to");
}

platform::Status FileManager::copyItem(const std::string& from, const std::string& to) const {
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return makeFileError(EEXIST, to, FileAccess::writing, "copy to");
    platform::Status status = copyTree(from, to);
    if (!status.ok() && ::lstat(to.c_str(), &info) == 0)
        removeTree(to).ignoreError();
    return status;
}

platform::Status FileManager::copyTree(const std::string& from, const std::string& to) const {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0)
        return makeFileError(errno, from, FileAccess::reading, "copy");
    if (S_ISLNK(info.st_mode)) {
        std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
        const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
        if (length < 0)
            return makeFileError(errno, from, FileAccess::reading, "read link");
        target.resize(static_cast<std::size_t>(length));
        if (::symlink(target.c_str(), to.c_str()) != 0)
            return makeFileError(errno, to, FileAccess::writing, "create link");
        return std::nullopt;
    }
    if (S_ISREG(info.st_mode))
        return copyFile(from, to);
    if (!S_ISDIR(info.st_mode))
        return makeFileError(ENOTSUP, from, FileAccess::reading, "copy");

    // Owner access while filling the copy, the source's bits once it is complete.
    if (::mkdir(to.c_str(), (info.st_mode & 07777) | S_IRWXU) != 0)
        return makeFileError(errno, to, FileAccess::writing, "create folder");
    recordCreation(to);
    Error error;
    auto names = contentsOfDirectory(from, &error);
    if (!names)
        return error;
    for (const auto& name : *names) {
        if (platform::Status failure = copyTree(joinPath(from, name), joinPath(to, name));
            !failure.ok())
            return failure;
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, 0);
    if (::chmod(to.c_str(), info.st_mode & 07777) != 0)
        return makeFileError(errno, to, FileAccess::writing, "set permissions of");
    return std::nullopt;
}

platform::Status FileManager::copyFile(const std::string& from, const std::string& to) const {
    ScopedFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid())
        return makeFileError(errno, from, FileAccess::reading, "open");
    struct stat info {};
    if (::fstat(source.get(), &info) != 0)
        return makeFileError(errno, from, FileAccess::reading, "read attributes of");
    ScopedFd target(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!target.valid())
        return makeFileError(errno, to, FileAccess::writing, "create");
    recordCreation(to);

    std::vector<std::uint8_t> buffer(copyChunkSize);
    while (true) {
        const ssize_t count = ::read(source.get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return makeFileError(errno, from, FileAccess::reading, "read");
        }
        if (count == 0)
            break;
        if (!writeAll(target.get(), buffer.data(), static_cast<std::size_t>(count)))
            return makeFileError(errno, to, FileAccess::writing, "write");
    }
    if (::fchmod(target.get(), info.st_mode & 07777) != 0)
        return makeFileError(errno, to, FileAccess::writing, "set permissions of");
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(target.get(), times);
    if (target.closeNow() != 0)
        return makeFileError(errno, to, FileAccess::writing, "write");
    return std::nullopt;
}

std::optional<FileVersion> FileManager::versionOfItem(const std::string& path) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    FileVersion version;
    version.device = status.st_dev;
    version.inode = status.st_ino;
    version.size = status.st_size;
    version.modifiedNanoseconds = nanoseconds(status.st_mtim);
    version.changedNanoseconds = nanoseconds(status.st_ctim);
    return version;
}

std::optional<FileAttributes> FileManager::attributesOfItem(const std::string& path,
                                                            Error* error) const {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                &info) != 0) {
        if (error != nullptr)
            *error = makeFileError(errno, path, FileAccess::reading, "read attributes of");
        return std::nullopt;
    }
    FileAttributes attributes;
    const mode_t mode = info.stx_mode;
    attributes.type = S_ISREG(mode)   ? FileAttributes::Type::regular
                      : S_ISDIR(mode) ? FileAttributes::Type::directory
                      : S_ISLNK(mode) ? FileAttributes::Type::symbolicLink
                                      : FileAttributes::Type::other;
    attributes.size = info.stx_size;
    attributes.modificationDate = dateOf(info.stx_mtime);
    attributes.permissions = mode & 07777;
    attributes.linkCount = info.stx_nlink;
    attributes.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    attributes.inode = info.stx_ino;

    if (options_.useBirthTime && (info.stx_mask & STATX_BTIME) != 0) {
        attributes.creationDate = dateOf(info.stx_btime);
    } else if (auto recorded =
                   attributes.isSymbolicLink() ? std::nullopt : recordedCreationDate(path)) {
        attributes.creationDate = *recorded;
    } else {
        const auto& earliest =
            before(info.stx_ctime, info.stx_mtime) ? info.stx_ctime : info.stx_mtime;
        attributes.creationDate = dateOf(earliest);
        // Extended attributes of links are off limits; their estimate is simply recomputed.
        if (!attributes.isSymbolicLink())
            setExtendedAttribute(path, creationDateAttribute,
                                 dataFromString(timestampText(earliest)))
                .ignoreError();
    }
    return attributes;
}

platform::Status FileManager::setModificationDate(const std::string& path, Date date) const {
    const double seconds = date.timeIntervalSince1970();
    auto whole = static_cast<std::int64_t>(seconds);
    if (static_cast<double>(whole) > seconds)
        --whole;
    auto nanoseconds = static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
    if (nanoseconds >= 1'000'000'000L)
        nanoseconds = 999'999'999L;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(whole), nanoseconds}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        return makeFileError(errno, path, FileAccess::writing, "set the modification date of");
    return std::nullopt;
}

// --- Folders ---

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const std::string& path,
                                                                         Error* error) const {
    auto walk = enumerator(path, {}, error);
    if (!walk)
        return std::nullopt;
    std::vector<std::string> names;
    while (auto name = walk->nextObject()) {
        walk->skipDescendants();
        names.push_back(std::move(*name));
    }
    return names;
}

std::optional<std::vector<std::string>> FileManager::subpathsOfDirectory(const std::string& path,
                                                                         Error* error) const {
    auto walk = enumerator(
        path, [](const std::string&, const Error&) { return true; }, error);
    if (!walk)
        return std::nullopt;
    std::vector<std::string> paths;
    while (auto next = walk->nextObject()) paths.push_back(std::move(*next));
    return paths;
}

std::unique_ptr<DirectoryEnumerator> FileManager::enumerator(
    const std::string& path, DirectoryEnumerator::ErrorHandler errorHandler, Error* error) const {
    return DirectoryEnumerator::make(path, std::move(errorHandler), error);
}

// --- Contents ---

std::optional<Data> FileManager::contentsOfFile(const std::string& path, Error* error) const {
    auto fail = [&](int failure, const char* action) -> std::optional<Data> {
        if (error != nullptr)
            *error = makeFileError(failure, path, FileAccess::reading, action);
        return std::nullopt;
    };
    ScopedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid())
        return fail(errno, "open");
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return fail(errno, "read attributes of");
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR, "read");

    // Read straight into the result: one byte beyond the size seen lets the first read meet
    // the end, and a file that grows meanwhile (or reports no size) is read on in steps.
    Data contents(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t used = 0;
    while (true) {
        if (used == contents.size())
            contents.resize(used + readGrowthStep);
        const ssize_t count = ::read(file.get(), contents.data() + used, contents.size() - used);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno, "read");
        }
        if (count == 0)
            break;
        used += static_cast<std::size_t>(count);
    }
    contents.resize(used);
    return contents;
}

platform::Status FileManager::writeAtomically(const std::string& path, const Data& contents) const {
    const std::string folder = parentOf(path);
    struct stat existing {};
    const bool replacing = ::stat(path.c_str(), &existing) == 0;

    std::string temporary;
    ScopedFd file;
    for (int attempt = 0; attempt < temporaryNameAttempts && !file.valid(); ++attempt) {
        temporary = joinPath(folder, "." + lastComponentOf(path) + "." + uniqueSuffix() + ".tmp");
        file.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newItemMode));
        if (!file.valid() && errno != EEXIST)
            return makeFileError(errno, path, FileAccess::writing, "create");
    }
    if (!file.valid())
        return makeFileError(EEXIST, path, FileAccess::writing, "create");

    auto failWith = [&](int failure, const char* action) {
        file.reset();
        ::unlink(temporary.c_str());
        return makeFileError(failure, path, FileAccess::writing, action);
    };
    if (!writeAll(file.get(), contents.data(), contents.size()))
        return failWith(errno, "write");
    if (replacing && ::fchmod(file.get(), existing.st_mode & 07777) != 0)
        return failWith(errno, "set permissions of");
    if (::fsync(file.get()) != 0)
        return failWith(errno, "sync");
    if (file.closeNow() != 0)
        return failWith(errno, "write");
    recordCreation(temporary);

    if (options_.beforeAtomicRename) {
        if (platform::Status status = options_.beforeAtomicRename(temporary); !status.ok()) {
            ::unlink(temporary.c_str());
            return status;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return failWith(errno, "rename");

    // The rename is durable only once the folder's entry is.
    ScopedFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid() || ::fsync(directory.get()) != 0)
        return makeFileError(errno, folder, FileAccess::writing, "sync folder");
    return std::nullopt;
}

// --- Volumes ---

std::optional<std::uint64_t> FileManager::freeSpace(const std::string& path, Error* error) const {
    if (options_.freeSpace) {
        return options_.freeSpace(path);
    }
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) {
        if (error != nullptr)
            *error = makeFileError(errno, path, FileAccess::reading, "read the volume of");
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

// --- Extended attributes ---

std::optional<Data> FileManager::extendedAttribute(const std::string& path, const std::string& name,
                                                   Error* error) const {
    auto fail = [&](int failure) -> std::optional<Data> {
        if (error != nullptr)
            *error = makeFileError(failure, path, FileAccess::reading,
                                   "read the attribute " + name + " of");
        return std::nullopt;
    };
    const std::string fullName = attributeName(name);
    int failure = ENOTSUP;
    if (options_.useExtendedAttributes) {
        while (true) {
            const ssize_t size = ::getxattr(path.c_str(), fullName.c_str(), nullptr, 0);
            if (size < 0) {
                failure = errno;
                break;
            }
            Data value(static_cast<std::size_t>(size));
            const ssize_t read =
                ::getxattr(path.c_str(), fullName.c_str(), value.data(), value.size());
            if (read >= 0) {
                value.resize(static_cast<std::size_t>(read));
                return value;
            }
            if (errno != ERANGE)
                return fail(errno);  // ERANGE: it grew meanwhile; ask again
        }
        if (failure != ENOTSUP)
            return fail(failure);
    }
    auto key = fileKey(path, &failure);
    if (!key)
        return fail(failure);
    if (auto value = ExtendedAttributeStore::shared().get(*key, fullName))
        return value;
    return fail(ENODATA);
}

bool FileManager::hasExtendedAttribute(const std::string& path, const std::string& name) const {
    return extendedAttribute(path, name).has_value();
}

platform::Status FileManager::setExtendedAttribute(const std::string& path, const std::string& name,
                                                   const Data& value) const {
    const std::string fullName = attributeName(name);
    int failure = ENOTSUP;
    if (options_.useExtendedAttributes) {
        if (::setxattr(path.c_str(), fullName.c_str(), value.data(), value.size(), 0) == 0)
            return std::nullopt;
        failure = errno;
    }
    if (failure == ENOTSUP) {
        if (auto key = fileKey(path, &failure)) {
            ExtendedAttributeStore::shared().set(*key, fullName, value);
            return std::nullopt;
        }
    }
    return makeFileError(failure, path, FileAccess::writing, "set the attribute " + name + " of");
}

platform::Status FileManager::removeExtendedAttribute(const std::string& path,
                                                      const std::string& name) const {
    const std::string fullName = attributeName(name);
    int failure = ENOTSUP;
    if (options_.useExtendedAttributes) {
        if (::removexattr(path.c_str(), fullName.c_str()) == 0)
            return std::nullopt;
        failure = errno;
        if (failure == ENODATA)
            return std::nullopt;
    }
    if (failure == ENOTSUP) {
        if (auto key = fileKey(path, &failure)) {
            ExtendedAttributeStore::shared().remove(*key, fullName);
            return std::nullopt;
        }
    }
    return makeFileError(failure, path, FileAccess::writing,
                         "remove the attribute " + name + " of");
}

// --- Creation dates ---

bool FileManager::hasBirthTime(const std::string& path) const {
    if (!options_.useBirthTime)
        return false;
    struct statx info {};
    return ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) == 0 &&
           (info.stx_mask & STATX_BTIME) != 0;
}

void FileManager::recordCreation(const std::string& path) const {
    if (hasBirthTime(path))
        return;
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_CTIME, &info) != 0)
        return;
    // Just after creation the change time is the moment of creation, on the file system's clock.
    setExtendedAttribute(path, creationDateAttribute, dataFromString(timestampText(info.stx_ctime)))
        .ignoreError();
}

std::optional<Date> FileManager::recordedCreationDate(const std::string& path) const {
    auto value = extendedAttribute(path, creationDateAttribute);
    if (!value)
        return std::nullopt;
    // "<seconds>.<nine digits>", parsed without the locale's idea of a decimal point.
    const std::string text = stringFromData(*value);
    const auto dot = text.find('.');
    if (dot == std::string::npos || text.size() - dot - 1 != 9)
        return std::nullopt;
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (std::from_chars(begin, begin + dot, seconds).ptr != begin + dot)
        return std::nullopt;
    if (std::from_chars(begin + dot + 1, end, nanoseconds).ptr != end)
        return std::nullopt;
    return Date::fromTimeIntervalSince1970(static_cast<double>(seconds) +
                                           static_cast<double>(nanoseconds) * 1e-9);
}

}  // namespace pindle::platform
