#include "platform/files/DirectoryEnumerator.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/FileError.hpp"

namespace pindle::platform {

namespace {

class DirCloser {
  public:
    explicit DirCloser(DIR* dir) : dir_(dir) {}
    ~DirCloser() {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

  private:
    DIR* dir_;
};

}  // namespace

std::unique_ptr<DirectoryEnumerator> DirectoryEnumerator::make(const std::string& root,
                                                               ErrorHandler errorHandler,
                                                               Error* error) {
    auto entries = readFolder(root, /*followLink=*/true, error);
    if (!entries)
        return nullptr;
    auto enumerator =
        std::make_unique<DirectoryEnumerator>(Private{}, root, std::move(errorHandler));
    enumerator->levels_.push_back(Level{"", std::move(*entries), 0});
    return enumerator;
}

DirectoryEnumerator::DirectoryEnumerator(Private, std::string root, ErrorHandler errorHandler)
    : root_(std::move(root)), errorHandler_(std::move(errorHandler)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::optional<std::vector<DirectoryEnumerator::Entry>> DirectoryEnumerator::readFolder(
    const std::string& path, bool followLink, Error* error) {
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        const int failure = errno;
        if (fd >= 0)
            ::close(fd);
        if (error != nullptr)
            *error = makeFileError(failure, path, FileAccess::reading, "open folder");
        return std::nullopt;
    }
    DirCloser closer(dir);

    std::vector<Entry> entries;
    while (true) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (item == nullptr) {
            if (errno != 0) {
                if (error != nullptr)
                    *error = makeFileError(errno, path, FileAccess::reading, "read folder");
                return std::nullopt;
            }
            break;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            struct stat info {};
            isDirectory = ::fstatat(::dirfd(dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(info.st_mode);
        }
        entries.push_back(Entry{name, isDirectory});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

std::string DirectoryEnumerator::fullPath(const std::string& relativePath) const {
    if (root_ == "/")
        return root_ + relativePath;
    return root_ + "/" + relativePath;
}

std::optional<std::string> DirectoryEnumerator::nextObject() {
    if (finished_)
        return std::nullopt;

    if (pendingFolder_) {
        const std::string folder = std::move(*pendingFolder_);
        pendingFolder_.reset();
        Error error;
        auto entries = readFolder(fullPath(folder), /*followLink=*/false, &error);
        if (entries) {
            levels_.push_back(Level{folder, std::move(*entries), 0});
        } else if (!errorHandler_ || !errorHandler_(fullPath(folder), error)) {
            finished_ = true;
            levels_.clear();
            return std::nullopt;
        }
    }

    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            levels_.pop_back();
            continue;
        }
        const Entry& entry = level.entries[level.next++];
        std::string relative =
            level.relativePath.empty() ? entry.name : level.relativePath + "/" + entry.name;
        if (entry.isDirectory)
            pendingFolder_ = relative;
        return relative;
    }
    finished_ = true;
    return std::nullopt;
}

void DirectoryEnumerator::skipDescendants() {
    pendingFolder_.reset();
}

}  // namespace pindle::platform
