// PNVideoSyncServiceStorage: the persistent list of pending changes, oldest edit first, kept
// in one JSON file (by default "syncservice" in the folder "p.sdk" of the application's
// Library) so that edits survive restarts. The file is the only state: every operation reads
// it whole and every change rewrites it whole, atomically, so a crash leaves the old list or
// the new one.
//
// At most one entry exists per record and property: adding a change drops the older entry for
// the same property and appends the new one, so the list stays ordered by each property's
// latest edit. Removal matches the value too, so a property edited again while its older
// value was being sent keeps the newer value.
//
// A missing, unreadable or unparsable file holds no changes; the next add or remove then
// writes the list that results from the empty one.
//
// Thread-safety: every operation is safe from any thread; a read, a change and the rewrite
// form one step under the store's recursive lock. Lock order: the sync service's lock first,
// then this one.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/playlists/PNPendingChange.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle {

class PNVideoSyncServiceStorage {
  public:
    static constexpr const char* folderName = "p.sdk";
    static constexpr const char* fileName = "syncservice";

    // The store at the default location. Its file lives below the application container's
    // Library as it is when each operation runs, so a home set later is honoured.
    static const std::shared_ptr<PNVideoSyncServiceStorage>& shared();

    // A store kept in `fileURL` (a path); nothing on disk is touched until the first change.
    explicit PNVideoSyncServiceStorage(std::string fileURL,
                                       platform::FileManager::Options options = {});
    PNVideoSyncServiceStorage(const PNVideoSyncServiceStorage&) = delete;
    PNVideoSyncServiceStorage& operator=(const PNVideoSyncServiceStorage&) = delete;

    // "<Library>/p.sdk/syncservice".
    static std::string defaultFileURL();
    std::string fileURL() const;

    // The stored list; empty when the file is missing or holds no changes.
    std::vector<PNPendingChange> pending() const;
    // Replaces the entry for the same record and property (if any) by `change` at the end.
    // False when the list could not be written; the file then keeps its former content.
    bool add(const PNPendingChange& change);
    // add() for a PNPendingChange; false, storing nothing, for any other kind.
    bool add(const PNPendingChangeProtocol& change);
    // Drops the first entry equal to `change`, value included, and rewrites the list (also
    // when nothing matched). False when the list could not be written.
    bool remove(const PNPendingChange& change);
    // remove() for a PNPendingChange; false, changing nothing, for any other kind.
    bool remove(const PNPendingChangeProtocol& change);
    // Deletes the file.
    void flushStorage();

  private:
    struct DefaultLocation {};
    PNVideoSyncServiceStorage(DefaultLocation, platform::FileManager::Options options);

    // REQUIRES: mutex_ held.
    bool store(const std::vector<PNPendingChange>& changes) const;

    const std::optional<std::string> fixedFileURL_;  // nothing: the default location
    const platform::FileManager fileManager_;

    // Guards the file; recursive because add and remove read the list while holding it.
    mutable std::recursive_mutex mutex_;
};

}  // namespace pindle
