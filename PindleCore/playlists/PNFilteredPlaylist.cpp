#include "PindleCore/playlists/PNFilteredPlaylist.hpp"

#include <algorithm>

#include "PindleCore/api/PNVideoAPI.hpp"
#include "platform/foundation/StandardOutput.hpp"

namespace pindle {

std::shared_ptr<PNFilteredPlaylist> PNFilteredPlaylist::make(std::shared_ptr<PNVideoFilter> filter,
                                                             PNSortOrder sortOrder) {
    return started(std::make_shared<PNFilteredPlaylist>(Private{}, std::move(filter), sortOrder));
}

PNFilteredPlaylist::PNFilteredPlaylist(Private, std::shared_ptr<PNVideoFilter> filter,
                                       PNSortOrder sortOrder)
    : sortOrder_(sortOrder), filter_(std::move(filter)) {}

PNFilteredPlaylist::~PNFilteredPlaylist() = default;

std::shared_ptr<PNVideoFilter> PNFilteredPlaylist::filter() const {
    std::lock_guard lock(mutex_);
    return filter_;
}

void PNFilteredPlaylist::setFilter(std::shared_ptr<PNVideoFilter> filter) {
    if (!filter)
        return;
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}

void PNFilteredPlaylist::loadNextVideos() {
    std::shared_ptr<PNVideoFilter> filter;
    PNVideoFilter snapshot;
    std::uint64_t requestNumber = 0;
    std::uint64_t resetCount = 0;
    {
        std::lock_guard lock(mutex_);
        if (loading_)
            return;
        loading_ = true;
        requestNumber = ++requestNumber_;
        resetCount = resetCount_;
        filter = filter_;
        snapshot = *filter_;
    }
    auto self = std::static_pointer_cast<PNFilteredPlaylist>(shared_from_this());
    auto request = PNVideoAPI::shared().videosByFilter(
        snapshot, std::string(rawValue(sortOrder_)),
        [self, requestNumber, resetCount, filter](const std::shared_ptr<PNVideosResponse>& response,
                                                  const std::optional<platform::Error>& error) {
            self->pageArrived(requestNumber, resetCount, filter, response, error);
        });
    // The completion may already have run on its own thread; then the handle is stale.
    std::lock_guard lock(mutex_);
    if (loading_ && requestNumber_ == requestNumber)
        nextVideosRequest_ = std::move(request);
}

void PNFilteredPlaylist::pageArrived(std::uint64_t requestNumber, std::uint64_t resetCount,
                                     const std::shared_ptr<PNVideoFilter>& requestedFilter,
                                     const std::shared_ptr<PNVideosResponse>& response,
                                     const std::optional<platform::Error>& error) {
    std::vector<PNVideoPtr> page;
    std::vector<std::int64_t> updatedIndexes;
    bool applied = false;
    {
        std::lock_guard lock(mutex_);
        if (requestNumber == requestNumber_) {
            loading_ = false;
            nextVideosRequest_.reset();
        }
        if (response && resetCount == resetCount_) {
            page = response->videos();
            const auto oldCount = static_cast<std::int64_t>(videos_.size());
            videos_.insert(videos_.end(), page.begin(), page.end());
            const auto newCount = static_cast<std::int64_t>(videos_.size());
            totalCount_ = std::max(response->totalCount(), newCount);
            requestedFilter->page += 1;
            updatedIndexes = positions(oldCount, newCount);
            applied = true;
        }
    }
    if (!applied) {
        if (!response && error)
            platform::StandardOutput::writeLine("Error: " + error->localizedDescription());
        return;
    }
    tellLoaded(page);
    tellUpdated(updatedIndexes, PNPlaylistUpdateType::added);
    postUpdated(updatedIndexes);
}

void PNFilteredPlaylist::reset() {
    PNPlaylist::reset();
    PNCancellablePtr request;
    {
        std::lock_guard lock(mutex_);
        filter_->page = 1;
        ++resetCount_;
        request = nextVideosRequest_;
    }
    if (request)
        request->cancelIt();
}

}  // namespace pindle
