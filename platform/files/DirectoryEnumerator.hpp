// DirectoryEnumerator: a lazy, depth-first walk over everything below one folder.
//
// Each call of nextObject() yields the path of one more item, relative to the root, in
// pre-order (a folder before its contents), the entries of each folder in byte order of
// their names. Hidden items are included. Symbolic links are yielded but never followed,
// so a link to a folder is not descended into and a cycle cannot form. A folder's
// contents are read when the walk reaches it, so items that appear or vanish meanwhile are
// met as they are found.
//
// The root itself may be a link to a folder.
//
// A subfolder that cannot be opened is reported to the error handler given at creation;
// when the handler answers true the walk goes on without that folder's contents, when it
// answers false (or when there is no handler) the walk ends.
//
// Thread-safety: one enumerator is used by one thread at a time; the error handler runs on
// the thread that calls nextObject().
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class DirectoryEnumerator {
  public:
    // Receives the full path of the folder that failed and the error; answers whether to go on.
    using ErrorHandler = std::function<bool(const std::string& path, const Error& error)>;

    // Opens `root` for the walk; nullptr (and `error`, when asked for) when the root folder
    // cannot be read.
    static std::unique_ptr<DirectoryEnumerator> make(const std::string& root,
                                                     ErrorHandler errorHandler = {},
                                                     Error* error = nullptr);

    DirectoryEnumerator(const DirectoryEnumerator&) = delete;
    DirectoryEnumerator& operator=(const DirectoryEnumerator&) = delete;

    // The next item's path relative to the root; nothing when the walk is over.
    std::optional<std::string> nextObject();

    // Skips the contents of the folder last yielded by nextObject().
    void skipDescendants();

    const std::string& root() const { return root_; }
    // Depth of the item last yielded: 1 for the root's own entries.
    std::size_t level() const { return levels_.size(); }

  private:
    struct Entry {
        std::string name;
        bool isDirectory = false;
    };
    struct Level {
        std::string relativePath;  // of the folder, "" for the root
        std::vector<Entry> entries;
        std::size_t next = 0;
    };

    struct Private {
        explicit Private() = default;
    };

  public:
    DirectoryEnumerator(Private, std::string root, ErrorHandler errorHandler);

  private:
    static std::optional<std::vector<Entry>> readFolder(const std::string& path, bool followLink,
                                                        Error* error);
    std::string fullPath(const std::string& relativePath) const;

    std::string root_;
    ErrorHandler errorHandler_;
    std::vector<Level> levels_;
    std::optional<std::string> pendingFolder_;  // last yielded folder, descended into next
    bool finished_ = false;
};

}  // namespace pindle::platform
