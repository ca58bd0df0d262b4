// PNUploadingPersistentStorage: keeps every upload record in one JSON file, "uploadingData" in
// the folder "p.sdk" of the application's Library, so unfinished uploads survive a restart.
//
// Nothing is kept in memory: every read parses the whole file and every change rewrites it.
// Each rewrite goes through FileManager::writeAtomically, so a reader, or a process killed at
// any moment, sees either the previous list or the new one, never a torn file. A file that
// cannot be parsed reads as holding no records (and is replaced by the next change); a record
// that lacks a required key is left out and dropped at the next change. No operation reports
// an error: the records are a best-effort journal of the upload side.
//
// Its one caller is PNUploadingStateManager, which keeps the uploads list in step.
//
// Thread-safety: safe from any thread. A change (read, modify, write) runs under the storage's
// own mutex so two concurrent changes cannot lose one another. Calls nothing back.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/uploads/PNUploadingState.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle {

class PNUploadingPersistentStorage {
  public:
    static constexpr const char* folderName = "p.sdk";
    static constexpr const char* fileName = "uploadingData";

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
    // Replaces the stored record of the same videoID in its place, else appends.
    void put(const PNUploadingStatePtr& record);
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

    const std::optional<std::string> path_;  // nothing: below the container's Library
    const platform::FileManager files_;

    std::mutex changeMutex_;  // serialises put() and removeUploading(); guards the file's changes
};

}  // namespace pindle
