#include "PindleCore/playlists/PNLegacyPlaylist.hpp"

#include <algorithm>
#include <mutex>
#include <set>

#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNEnvironmentValidator.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNNotifiedVideoIDs.hpp"
#include "PindleCore/playlists/PNPlaylistCancellationToken.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/UUID.hpp"

namespace pindle {

namespace {

constexpr const char* queueLabelPrefix = "com.p.executionBlock ";
constexpr const char* createdKey = "created";
constexpr const char* updatedKey = "updated";
constexpr const char* deletedKey = "deleted";
constexpr const char* idKey = "id";
constexpr const char* videoIDKey = "videoID";
constexpr platform::TimeInterval resolutionWaitSlice = 0.1;
constexpr platform::TimeInterval noWait = 1e-9;

std::shared_ptr<platform::DispatchQueue> background() {
    return platform::DispatchQueue::global(platform::DispatchQoS::background);
}

// Whether `video` was created before `than`; a record without a date is earlier than none.
bool createdBefore(const PNVideoPtr& video, const PNVideoPtr& than) {
    const auto& date = video->creationDate();
    const auto& other = than->creationDate();
    return date && other && *date < *other;
}

std::int64_t countCreatedBefore(const std::vector<PNVideoPtr>& videos, const PNVideoPtr& than) {
    return std::count_if(videos.begin(), videos.end(),
                         [&](const PNVideoPtr& video) { return createdBefore(video, than); });
}

platform::Array toArray(const std::vector<std::int64_t>& values) {
    platform::Array array;
    array.reserve(values.size());
    for (auto value : values) array.emplace_back(static_cast<long long>(value));
    return array;
}

std::optional<std::string> videoIDOf(const platform::Value& object) {
    const platform::Value* id = object.find(videoIDKey);
    if (!object.isDictionary() || !id || !id->isString())
        return std::nullopt;
    return *id->asString();
}

}  // namespace

PNLegacyPlaylist::PNLegacyPlaylist(Private, platform::StringSet tags,
                                   platform::StringDictionary metadata, bool order,
                                   std::int64_t count, platform::Date syncedDate)
    : tags_(std::move(tags)),
      metadata_(std::move(metadata)),
      order_(order),
      operationQueue_(platform::DispatchQueue::create(queueLabelPrefix +
                                                      platform::UUID::random().uuidString())),
      requestQueue_(platform::OperationQueue::create()),
      logger_(PNLoggerType::PLST),
      remoteCount_(std::max<std::int64_t>(count, 0)),
      internalCount_(std::max<std::int64_t>(count, 0)),
      syncedDate_(syncedDate) {
    requestQueue_->setMaxConcurrentOperationCount(maxConcurrentPageRequests);
}

std::shared_ptr<PNLegacyPlaylist> PNLegacyPlaylist::make(platform::StringSet tags,
                                                         platform::StringDictionary metadata,
                                                         bool order, std::int64_t count,
                                                         platform::Date syncedDate) {
    auto playlist = std::make_shared<PNLegacyPlaylist>(
        Private{}, std::move(tags), std::move(metadata), order, count, syncedDate);
    playlist->updateLocalVideos();
    playlist->observeNotifications();
    return playlist;
}

PNLegacyPlaylist::~PNLegacyPlaylist() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

std::shared_ptr<PNLegacyPlaylist> PNLegacyPlaylist::self() {
    return std::static_pointer_cast<PNLegacyPlaylist>(shared_from_this());
}

void PNLegacyPlaylist::observeNotifications() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<PNLegacyPlaylist> weak = self();
    using Handler = void (PNLegacyPlaylist::*)(const platform::Notification&);
    // Each handler leaves the posting thread at once. Its body runs on this playlist's serial
    // queue, in the order the notifications came: a burst of notifications then waits there,
    // behind the one body that waits for the semaphore, instead of parking one pool worker
    // each while the answer that would release them queues behind.
    auto forward = [weak](Handler handler) {
        return [weak, handler](const platform::Notification& notification) {
            // by hand: the queued body keeps the playlist
            auto playlist = weak.lock();
            if (!playlist)
                return;
            playlist->operationQueue_->async(
                [playlist, handler, notification] { ((*playlist).*handler)(notification); });
        };
    };
    center.addObserver(this, NotificationName::PNVideoUploadStarted, nullptr,
                       forward(&PNLegacyPlaylist::videoConfirmed));
    center.addObserver(this, NotificationName::PNLocalVideoCleanedUp, nullptr,
                       forward(&PNLegacyPlaylist::localVideoCleanedUp));
    center.addObserver(this, NotificationName::PNVideoDeleted, nullptr,
                       forward(&PNLegacyPlaylist::videosDeleted));
    center.addObserver(this, NotificationName::PNVideoUpdated, nullptr,
                       forward(&PNLegacyPlaylist::videosUpdated));
    center.addObserver(this, NotificationName::PNVideoCreated, nullptr,
                       forward(&PNLegacyPlaylist::videosCreated));
    // The host posts this on its main thread; the sync waits for any resolution under way, so
    // it waits in the background rather than there.
    center.addObserver(
        this, applicationDidBecomeActiveNotification, nullptr,
        [weak](const platform::Notification&) {
            // by hand: the queued sync keeps the playlist
            auto playlist = weak.lock();
            if (!playlist || playlist->isSyncing())
                return;
            playlist->operationQueue_->async([playlist] {
                playlist->semaphore_.wait();
                playlist->syncInternal([playlist](bool) { playlist->semaphore_.signal(); });
            });
        });
}

std::shared_ptr<PNLegacyPlaylistDelegate> PNLegacyPlaylist::legacyDelegate() const {
    return legacyDelegate_.get();
}

void PNLegacyPlaylist::setLegacyDelegate(
    const std::shared_ptr<PNLegacyPlaylistDelegate>& delegate) {
    legacyDelegate_.set(delegate);
}

std::int64_t PNLegacyPlaylist::internalCount() const {
    std::lock_guard lock(mutex_);
    return internalCount_;
}

platform::Value PNLegacyPlaylist::valueForKey(std::string_view key) const {
    if (key == internalCountKey)
        return platform::Value(static_cast<long long>(internalCount()));
    return PNPlaylist::valueForKey(key);
}

platform::Date PNLegacyPlaylist::syncedDate() const {
    std::lock_guard lock(mutex_);
    return syncedDate_;
}

std::vector<std::string> PNLegacyPlaylist::replacedLocalVideos() const {
    std::lock_guard lock(mutex_);
    return replacedLocalVideos_;
}

// --- Item access ---

std::int64_t PNLegacyPlaylist::position(std::int64_t index) const {
    const std::int64_t count = internalCount();
    if (index < 0 || index >= count)
        return -1;
    return order_ ? count - 1 - index : index;
}

PNVideoPtr PNLegacyPlaylist::localVideoAt(std::int64_t position) const {
    std::lock_guard lock(mutex_);
    if (position < 0 || position >= static_cast<std::int64_t>(videos_.size()))
        return nullptr;
    return videos_[static_cast<std::size_t>(position)];
}

PNVideoPtr PNLegacyPlaylist::remoteVideo(std::int64_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= remoteCount_)
        return nullptr;
    auto found = remoteVideos_.find(index);
    return found == remoteVideos_.end() ? nullptr : found->second;
}

PNCancellablePtr PNLegacyPlaylist::asyncVideoAt(std::int64_t index, ItemCompletion completion) {
    auto token = std::make_shared<PNPlaylistCancellationToken>();
    background()->async([playlist = self(), token, index, completion = std::move(completion)] {
        auto giveUp = [&] {
            playlist->logger_.log("cancelled_itemAtIndex_" + std::to_string(index));
            completion(nullptr, std::nullopt);
        };
        if (token->cancelled())
            return giveUp();
        while (!playlist->semaphore_.wait(platform::DispatchTime::after(resolutionWaitSlice))) {
            if (token->cancelled())
                return giveUp();
        }
        if (token->cancelled()) {
            playlist->semaphore_.signal();
            return giveUp();
        }
        const std::int64_t at = playlist->position(index);
        playlist->recursiveItemAtIndex(
            at, at, false,
            [playlist, completion](const PNVideoPtr& video,
                                   const std::optional<platform::Error>& error) {
                playlist->semaphore_.signal();
                completion(video, error);
            });
    });
    return token;
}

PNVideoPtr PNLegacyPlaylist::videoAt(std::int64_t index) {
    if (!semaphore_.wait(platform::DispatchTime::after(noWait)))
        return nullptr;
    struct Cell {
        std::mutex mutex;
        PNVideoPtr video;  // guarded by mutex
    };
    auto cell = std::make_shared<Cell>();
    const std::int64_t at = position(index);
    recursiveItemAtIndex(
        at, at, true,
        [playlist = self(), cell](const PNVideoPtr& video, const std::optional<platform::Error>&) {
            {
                std::lock_guard lock(cell->mutex);
                cell->video = video;
            }
            playlist->semaphore_.signal();
        });
    std::lock_guard lock(cell->mutex);
    return cell->video;
}

void PNLegacyPlaylist::recursiveItemAtIndex(std::int64_t index, std::int64_t target,
                                            bool cachedOnly, ItemCompletion completion) {
    if (auto error = PNEnvironmentValidator::validate())
        return completion(nullptr, error->toPlatformError());
    std::int64_t count = 0;
    std::int64_t remoteCount = 0;
    {
        std::lock_guard lock(mutex_);
        count = internalCount_;
        remoteCount = remoteCount_;
    }
    if (index < 0 || index >= count)
        return completion(nullptr, PNError(PNError::videoOutOfBounds).toPlatformError());
    if (remoteCount == 0)
        return completion(localVideoAt(index), std::nullopt);

    const std::int64_t r = std::min(index, remoteCount - 1);
    remoteItemAtIndex(
        r, cachedOnly,
        [playlist = self(), r, target, completion](const PNVideoPtr& video,
                                                   const std::vector<PNVideoPtr>& replaced,
                                                   const std::optional<platform::Error>& error) {
            if (!video)
                return completion(nullptr, error);
            const std::int64_t earlierLocal = countCreatedBefore(playlist->videos(), video);
            const std::int64_t earlierReplaced = countCreatedBefore(replaced, video);
            if (earlierReplaced > 0) {
                // Local videos before this one just left the list: the wanted item moved down.
                const std::int64_t shifted = target - earlierReplaced;
                if (shifted >= 0)
                    return playlist->recursiveItemAtIndex(r, shifted, false, completion);
                return completion(video, std::nullopt);
            }
            const std::int64_t at = r + earlierLocal;
            if (at == target)
                return completion(video, std::nullopt);
            if (target < at) {
                if (r < 1)
                    return completion(playlist->localVideoAt(target), std::nullopt);
                return playlist->recursiveItemAtIndex(r - 1, target, false, completion);
            }
            completion(playlist->localVideoAt(target - (r + 1)), std::nullopt);
        });
}

void PNLegacyPlaylist::remoteItemAtIndex(std::int64_t index, bool cachedOnly,
                                         RemoteCompletion completion) {
    if (auto video = remoteVideo(index))
        return completion(video, {}, std::nullopt);
    if (cachedOnly)
        return completion(nullptr, {}, std::nullopt);
    const std::int64_t page = index / PNVideoRequestOperation::videosPerRequest;
    for (const auto& operation : requestQueue_->operations()) {
        auto request = std::dynamic_pointer_cast<PNVideoRequestOperation>(operation);
        if (request && request->requestPage() == page && request->addBlockCall(index, completion))
            return;
    }
    auto request =
        std::make_shared<PNVideoRequestOperation>(page, index, tags_, metadata_, completion);
    request->setDelegate(self());
    requestQueue_->addOperation(request);
}

// --- Sync and change handling ---

void PNLegacyPlaylist::sync(SyncCompletion completion) {
    background()->async([playlist = self(), completion = std::move(completion)] {
        if (playlist->isSyncing()) {
            if (completion)
                completion(false);
            return;
        }
        playlist->semaphore_.wait();
        playlist->syncInternal([playlist, completion](bool success) {
            playlist->semaphore_.signal();
            if (completion)
                completion(success);
        });
    });
}

void PNLegacyPlaylist::syncInternal(SyncCompletion completion) {
    const platform::Date now = platform::Date::now();
    isSyncing_ = true;
    PNVideoAPI::shared().syncVideos(
        syncedDate(), tags_, metadata_,
        [playlist = self(), now, completion](const platform::Value& result,
                                             const std::optional<platform::Error>& error) {
            const platform::Value* created = result.find(createdKey);
            const platform::Value* updated = result.find(updatedKey);
            const platform::Value* deleted = result.find(deletedKey);
            if (error || !result.isDictionary() || !created || !created->isArray() || !updated ||
                !updated->isArray() || !deleted || !deleted->isArray()) {
                playlist->isSyncing_ = false;
                return completion(false);
            }
            playlist->process(getIDs(*created->asArray()), getIDs(*updated->asArray()),
                              getIDs(*deleted->asArray()),
                              [playlist, now, completion](bool success) {
                                  // The date moves only once the changes are in, so that a failed
                                  // recount leaves them to be reported again.
                                  if (success) {
                                      std::lock_guard lock(playlist->mutex_);
                                      playlist->syncedDate_ = now;
                                  }
                                  playlist->isSyncing_ = false;
                                  completion(success);
                              });
        });
}

void PNLegacyPlaylist::process(const std::vector<std::string>& created,
                               const std::vector<std::string>& updated,
                               const std::vector<std::string>& deleted, SyncCompletion completion) {
    if (created.empty() && updated.empty() && deleted.empty())
        return completion(true);
    const std::int64_t oldCount = internalCount();
    reloadData([playlist = self(), oldCount, completion](bool success) {
        const std::int64_t newCount = playlist->internalCount();
        completion(success);
        if (success)
            playlist->checkNewVideos(oldCount, newCount, false);
    });
}

void PNLegacyPlaylist::reloadData(SyncCompletion completion) {
    PNVideoAPI::shared().videosCountByTags(
        tags_, metadata_,
        [playlist = self(), completion](std::int64_t count,
                                        const std::optional<platform::Error>& error) {
            // A failed recount keeps what the playlist showed; the next sync tries again.
            if (error)
                return completion(false);
            playlist->flushCache();
            {
                std::lock_guard lock(playlist->mutex_);
                playlist->remoteCount_ = std::max<std::int64_t>(count, 0);
            }
            playlist->updateLocalVideos();
            completion(true);
        });
}

void PNLegacyPlaylist::flushCache() {
    std::lock_guard lock(mutex_);
    remoteVideos_.clear();
    videos_.clear();
}

void PNLegacyPlaylist::updateCount(std::int64_t remoteCount) {
    willChangeValueForKey(internalCountKey);
    {
        std::lock_guard lock(mutex_);
        remoteCount_ = std::max<std::int64_t>(remoteCount, 0);
        internalCount_ = remoteCount_ + localCount_;
    }
    didChangeValueForKey(internalCountKey);
}

std::vector<std::string> PNLegacyPlaylist::getIDs(const platform::Array& list) {
    std::vector<std::string> ids;
    ids.reserve(list.size());
    for (const auto& element : list) {
        const platform::Value* id = element.find(idKey);
        if (element.isDictionary() && id && id->isString())
            ids.push_back(*id->asString());
    }
    return ids;
}

std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>> PNLegacyPlaylist::indexes(
    std::int64_t oldCount, std::int64_t newCount) const {
    const std::int64_t change = newCount - oldCount;
    if (change > 0)
        return {order_ ? positions(0, change) : positions(oldCount, newCount), {}};
    if (change < 0)
        return {{}, order_ ? positions(newCount, oldCount) : positions(0, -change)};
    return {};
}

void PNLegacyPlaylist::checkNewVideos(std::int64_t oldCount, std::int64_t newCount,
                                      bool localVideo) {
    if (oldCount == newCount)
        return;
    const auto [newIndexes, oldIndexes] = indexes(oldCount, newCount);
    if (auto delegate = legacyDelegate())
        delegate->updatedWithPlaylist(*this, newIndexes, oldIndexes, newCount, localVideo);
    platform::Dictionary payload{
        {playlistKey, platform::Value(shared_from_this())},
        {newIndexesKey, platform::Value(toArray(newIndexes))},
        {oldIndexesKey, platform::Value(toArray(oldIndexes))},
        {newCountKey, platform::Value(static_cast<long long>(newCount))},
        {localVideoKey, platform::Value(localVideo)},
    };
    platform::NotificationCenter::defaultCenter().post(NotificationName::PNPlaylistUpdated,
                                                       platform::Value(std::move(payload)));
}

std::vector<PNVideoPtr> PNLegacyPlaylist::pnVideoRequestReceivedResult(
    const std::vector<PNVideoPtr>& videos, std::int64_t page) {
    std::vector<std::string> ids;
    ids.reserve(videos.size());
    {
        std::lock_guard lock(mutex_);
        const std::int64_t first = page * PNVideoRequestOperation::videosPerRequest;
        for (std::size_t i = 0; i < videos.size(); ++i) {
            remoteVideos_[first + static_cast<std::int64_t>(i)] = videos[i];
            ids.push_back(videos[i]->videoID());
        }
    }
    return check(ids);
}

std::vector<PNVideoPtr> PNLegacyPlaylist::check(const std::vector<std::string>& videoIDs) {
    std::vector<PNVideoPtr> replaced;
    std::int64_t oldCount = 0;
    std::int64_t total = 0;
    willChangeValueForKey(internalCountKey);
    {
        std::lock_guard lock(mutex_);
        for (const auto& id : videoIDs) {
            auto found = std::find_if(videos_.begin(), videos_.end(), [&](const PNVideoPtr& video) {
                return video->videoID() == id;
            });
            if (found == videos_.end())
                continue;
            replaced.push_back(*found);
            replacedLocalVideos_.push_back(id);
            videos_.erase(found);
        }
        localCount_ = static_cast<std::int64_t>(videos_.size());
        total = localCount_ + remoteCount_;
        oldCount = internalCount_;
        internalCount_ = total;
    }
    didChangeValueForKey(internalCountKey);
    if (oldCount != total)
        checkNewVideos(oldCount, total, false);
    return replaced;
}

bool PNLegacyPlaylist::updateLocalVideos() {
    // Read outside the lock: the cache takes its own.
    auto candidates = PNLocalVideoCache::shared().videosByTags(tags_, metadata_);
    willChangeValueForKey(internalCountKey);
    std::unique_lock lock(mutex_);
    const std::int64_t oldLocal = localCount_;
    std::set<std::string> excluded(replacedLocalVideos_.begin(), replacedLocalVideos_.end());
    for (const auto& [index, video] : remoteVideos_) excluded.insert(video->videoID());
    std::erase_if(candidates,
                  [&](const PNVideoPtr& video) { return excluded.count(video->videoID()) > 0; });
    videos_ = std::move(candidates);
    localCount_ = static_cast<std::int64_t>(videos_.size());
    internalCount_ = localCount_ + remoteCount_;
    const bool changed = localCount_ != oldLocal;
    lock.unlock();
    didChangeValueForKey(internalCountKey);
    return changed;
}

bool PNLegacyPlaylist::hasLocalVideo(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    return std::any_of(videos_.begin(), videos_.end(),
                       [&](const PNVideoPtr& video) { return video->videoID() == videoID; });
}

void PNLegacyPlaylist::videosUpdated(const platform::Notification& notification) {
    const std::vector<std::string> ids = PNNotifiedVideoIDs::read(notification.object);
    if (ids.empty())
        return;
    const std::set<std::string> updated(ids.begin(), ids.end());
    semaphore_.wait();
    {
        std::lock_guard lock(mutex_);
        std::erase_if(remoteVideos_,
                      [&](const auto& entry) { return updated.contains(entry.second->videoID()); });
    }
    semaphore_.signal();
}

void PNLegacyPlaylist::videosCreated(const platform::Notification& notification) {
    const auto videoID = videoIDOf(notification.object);
    if (!videoID)
        return;
    semaphore_.wait();
    if (hasLocalVideo(*videoID)) {
        std::lock_guard lock(mutex_);
        replacedLocalVideos_.push_back(*videoID);
    }
    if (isSyncing()) {
        semaphore_.signal();
        return;
    }
    syncInternal([playlist = self()](bool) { playlist->semaphore_.signal(); });
}

void PNLegacyPlaylist::videosDeleted(const platform::Notification&) {
    if (isSyncing())
        return;
    semaphore_.wait();
    syncInternal([playlist = self()](bool) { playlist->semaphore_.signal(); });
}

void PNLegacyPlaylist::localVideoCleanedUp(const platform::Notification& notification) {
    const auto videoID = videoIDOf(notification.object);
    if (!videoID)
        return;
    semaphore_.wait();
    if (!hasLocalVideo(*videoID)) {
        semaphore_.signal();
        return;
    }
    const std::int64_t oldCount = internalCount();
    updateLocalVideos();
    const std::int64_t newCount = internalCount();
    semaphore_.signal();
    checkNewVideos(oldCount, newCount, false);
}

void PNLegacyPlaylist::videoConfirmed(const platform::Notification&) {
    semaphore_.wait();
    const std::int64_t oldCount = internalCount();
    updateLocalVideos();
    const std::int64_t newCount = internalCount();
    semaphore_.signal();
    checkNewVideos(oldCount, newCount, true);
}

}  // namespace pindle
