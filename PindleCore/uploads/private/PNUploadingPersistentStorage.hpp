// PNUploadingPersistentStorage: keeps every upload record in one JSON file, "uploadingData" in
// the folder "p.sdk" of the application's Library, so unfinished uploads survive a restart.
//
// The file is the truth, shared by every process of the application home: the storage keeps
// the records it last read or wrote, and reads the file again whenever it is not the one seen
// then (another path, or another file identity, size or modification time), so a reader skips
// parsing only what it has parsed before; that one look at the file is all a lookup costs
// besides copying the record it returns. Every change reads the file afresh and rewrites it
// whole through FileManager::writeAtomically while it holds the lock file beside it
// ("uploadingData.lock", see platform::FileLock), so two processes' changes never lose one
// another, and a reader (which takes no lock), or a process killed at any moment, sees either
// the previous list or the new one, never a torn file; the one exception is putProgress(),
// whose rewrites may wait (see there). A file that cannot be parsed reads as holding no
// records (and is replaced by the next change); a record that lacks a required key is left out
// and dropped at the next change. No operation reports an error: the records are a
// best-effort journal of the upload side (without the lock file, a change goes ahead unlocked).
//
// Its one caller is PNUploadingStateManager, which keeps the uploads list in step.
//
// Thread-safety: safe from any thread. A change (read, modify, write) runs under the storage's
// own mutex, then the lock file, so no two changes of any processes interleave. Calls nothing
// back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/uploads/PNUploadingState.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/files/FileLock.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle {

class PNUploadingPersistentStorage {
  public:
    static constexpr const char* folderName = "p.sdk";
    static constexpr const char* fileName = "uploadingData";
    // The lock file of the records is the records file's path with this added.
    static constexpr const char* lockSuffix = ".lock";

    // The storage of the application container: the file lies below the container's Library
    // folder as it stands at each call, so a host (or a test) that moves the home is followed.
    static PNUploadingPersistentStorage& shared();

    // A storage of the file at `path`, writing through a file manager with `options`.
    explicit PNUploadingPersistentStorage(std::string path,
                                          platform::FileManager::Options options = {});
    PNUploadingPersistentStorage(const PNUploadingPersistentStorage&) = delete;
    PNUploadingPersistentStorage& operator=(const PNUploadingPersistentStorage&) = delete;

    std::string uploadingsPath() const;

    // Every decodable record, in file order; empty when there is no readable file.
    std::vector<PNUploadingStatePtr> uploadings() const;
    // The first record whose videoID equals `videoID` exactly, or null.
    PNUploadingStatePtr uploading(const std::string& videoID) const;
    // uploading() without the copy: the stored record itself.
    PNStoredUploadingStatePtr storedUploading(const std::string& videoID) const;
    // Whether uploading(videoID) would find a record, without copying it.
    bool contains(const std::string& videoID) const;
    // Replaces the stored record of the same videoID in its place, else appends.
    void put(const PNUploadingStatePtr& record);
    // put() for a change of upload progress alone: readers of this storage see it at once, but
    // the file is rewritten at most once every progressWriteInterval (of the platform clock's
    // uptime) for such changes, so that a fast upload does not sync the disk twice a range. A
    // later change of any other kind, or one of these after the interval, writes what is
    // pending. A restart may so find an older byte count, which the upload corrects by asking
    // the storage service. What is pending outlives another writer's file as long as that file
    // keeps the record in the same session (same upload address, same resolutions sent).
    void putProgress(const PNUploadingStatePtr& record);
    static constexpr double progressWriteInterval = 5.0;
    // Drops the record of `videoID`; the file is rewritten even when there was none.
    void removeUploading(const std::string& videoID);
    // Writes exactly `records`, creating the folder when missing. Nothing is written when the
    // list cannot be serialised.
    void store(const std::vector<PNUploadingStatePtr>& records);
    // Deletes the file.
    void flushUploadingInfo();

  private:
    struct FollowContainer {};
    explicit PNUploadingPersistentStorage(FollowContainer);

    // What tells one file from another: its path and version (nothing when there is no file).
    struct FileStamp {
        std::string path;
        std::optional<platform::FileVersion> version;
        bool operator==(const FileStamp&) const = default;
    };
    FileStamp stampOf(const std::string& path) const;
    // Calls `use` with the records of the file as it stands (the remembered ones while it is
    // unchanged) and returns what it returns. `use` runs under cacheMutex_: it must not call
    // the storage.
    template <class Use>
    decltype(auto) withRecords(Use&& use) const;
    void put(const PNUploadingStatePtr& record, bool progressOnly);
    // Keeps a progress-only change in memory when the file was written less than
    // progressWriteInterval ago; false when it is to be written now.
    bool holdBack(const PNUploadingStatePtr& record);
    // The lock file of the records, held for one change (its folder made first when
    // `makeFolder`); null when it cannot be taken.
    std::unique_ptr<platform::FileLock> lockRecords(bool makeFolder = true) const;
    // Lays the progress held back over freshly read `records`, and forgets what no longer
    // applies. REQUIRES: cacheMutex_ held.
    void overlayUnwritten(std::vector<PNUploadingStatePtr>& records) const;
    // Writes `records` and remembers them with the file's new stamp.
    void write(std::vector<PNUploadingStatePtr> records);

    const std::optional<std::string> path_;  // nothing: below the container's Library
    const platform::FileManager files_;

    std::mutex changeMutex_;  // serialises the changes of this process; taken before the lock file

    mutable std::mutex cacheMutex_;
    // The records as last read or written, for the file of stamp_. Never changed in place
    // (a change puts a new record in the list) and handed out only as copies, so a list of
    // them may share records with the next one.
    mutable std::optional<std::vector<PNUploadingStatePtr>> cached_;  // guarded by cacheMutex_
    mutable FileStamp stamp_;                                         // guarded by cacheMutex_
    // Progress kept back by putProgress() and not in the file yet, by video (cached_ holds it
    // too); when the file was last written.
    mutable std::map<std::string, PNUploadingStatePtr> unwritten_;  // guarded by cacheMutex_
    std::optional<platform::Clock::Duration> lastWrite_;            // guarded by cacheMutex_
};

}  // namespace pindle
