#include "PindlePlayer/loading/PNVideoLoaderRequest.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindlePlayer/loading/private/PNCachingDownload.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

bool isOpen(PNByteRange range) {
    return range.length < 0;
}
std::int64_t lowerBound(PNByteRange range) {
    return range.location;
}
std::int64_t upperBound(PNByteRange range) {
    return range.location + range.length;
}
bool isBounded(PNByteRange range) {
    return lowerBound(range) < upperBound(range);
}

std::string describe(const std::vector<PNByteRange>& ranges) {
    std::string text = "[";
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        text += (i == 0 ? "" : ", ") + describe(ranges[i]);
    }
    return text + "]";
}

std::string flag(bool value) {
    return value ? "true" : "false";
}

// Cached bytes go to a read in slices of this size.
constexpr std::int64_t servingSlice = 256 << 10;

// The address the loader downloads from: marked as the loader's, keeping any query (and so
// a signature) intact.
platform::URL loaderURL(const platform::URL& url) {
    std::string text = url.absoluteString();
    const std::size_t fragment = std::min(text.find('#'), text.size());
    const bool hasQuery = text.substr(0, fragment).find('?') != std::string::npos;
    text.insert(fragment, hasQuery ? "&loader" : "?loader");
    return platform::URL::fromString(text).value_or(url);
}

}  // namespace

std::string describe(PNByteRange range) {
    return "{" + std::to_string(range.location) + ", " + std::to_string(range.length) + "}";
}

// One running download's own state, touched by its chunks (which never overlap) and read by
// its completion, which runs after the last chunk.
struct PNVideoLoaderRequest::Download {
    PNByteRange range;
    platform::URL url;
    PNVideoResolution resolution;
    std::int64_t total = 0;
    std::int64_t offset = 0;
    bool appendable = false;
    // Guards the cache against this download's chunks once it is cancelled.
    std::shared_ptr<PNCachingDownload> caching = std::make_shared<PNCachingDownload>();
};

std::shared_ptr<PNVideoLoaderRequest> PNVideoLoaderRequest::make(
    PNVideoPtr video, std::vector<PNVideoLoaderRequestListenerPtr> listeners,
    std::shared_ptr<PNPlayerCache> cache) {
    auto request =
        std::make_shared<PNVideoLoaderRequest>(Private{}, std::move(video), std::move(listeners),
                                               cache ? std::move(cache) : PNPlayerCache::shared());
    request->updateRequestParams();
    {
        std::lock_guard lock(request->mutex_);
        request->isCompleted_ = request->isCached_;
    }
    request->queue_->async(
        platform::weakly(request, [](PNVideoLoaderRequest& self) { self.sendPreloaded(); }));
    return request;
}

PNVideoLoaderRequest::PNVideoLoaderRequest(Private, PNVideoPtr video,
                                           std::vector<PNVideoLoaderRequestListenerPtr> listeners,
                                           std::shared_ptr<PNPlayerCache> cache)
    : video_(std::move(video)),
      cache_(std::move(cache)),
      queue_(platform::DispatchQueue::create(queueLabel)),
      listeners_(std::move(listeners)) {}

void PNVideoLoaderRequest::setDelegate(std::weak_ptr<PNVideoLoaderRequestDelegate> delegate) {
    delegate_.set(std::move(delegate));
}

// --- State ---

std::optional<platform::URL> PNVideoLoaderRequest::url() const {
    std::lock_guard lock(mutex_);
    return url_;
}
std::optional<PNVideoResolution> PNVideoLoaderRequest::resolution() const {
    std::lock_guard lock(mutex_);
    return resolution_;
}
bool PNVideoLoaderRequest::isCached() const {
    std::lock_guard lock(mutex_);
    return isCached_;
}
bool PNVideoLoaderRequest::isRequesting() const {
    std::lock_guard lock(mutex_);
    return isRequesting_;
}
bool PNVideoLoaderRequest::isCompleted() const {
    std::lock_guard lock(mutex_);
    return isCompleted_;
}
bool PNVideoLoaderRequest::isPreload() const {
    std::lock_guard lock(mutex_);
    return isPreload_;
}
bool PNVideoLoaderRequest::isHeldBack() const {
    std::lock_guard lock(mutex_);
    return retryAt_ && platform::Clock::current()->uptime() < *retryAt_;
}
std::vector<PNVideoLoaderRequestListenerPtr> PNVideoLoaderRequest::listeners() const {
    std::lock_guard lock(mutex_);
    return listeners_;
}
std::vector<PNByteRange> PNVideoLoaderRequest::runningRanges() const {
    std::lock_guard lock(mutex_);
    std::vector<PNByteRange> ranges;
    for (const Running& running : requests_) ranges.push_back(running.range);
    return ranges;
}

PNByteRange PNVideoLoaderRequest::primaryRange() const {
    PNVideoLoaderRequestListenerPtr first;
    {
        std::lock_guard lock(mutex_);
        if (!listeners_.empty())
            first = listeners_.front();
    }
    return first ? first->range() : PNByteRange{0, -1};
}

void PNVideoLoaderRequest::log(const std::string& message) const {
    if (auto delegate = delegate_.get())
        delegate->log(video_->videoID() + " " + message);
}

// --- Range arithmetic ---

bool PNVideoLoaderRequest::checkRangesOverlap(PNByteRange listed, PNByteRange added) {
    if (isOpen(listed) && !isOpen(added))
        return lowerBound(listed) < upperBound(added);
    if (!isOpen(listed) && isOpen(added))
        return lowerBound(added) < upperBound(listed);
    if (isOpen(listed) && isOpen(added))
        return true;
    const std::int64_t start = std::max<std::int64_t>(lowerBound(listed) - mergeDistance, 0);
    const std::int64_t end = start + listed.length + mergeDistance;
    const auto contains = [&](std::int64_t x) {
        return start <= x && x < end;
    };
    return contains(lowerBound(added)) || contains(upperBound(added));
}

std::int64_t PNVideoLoaderRequest::rangeEnd(PNByteRange range,
                                            std::optional<std::int64_t> size) const {
    std::optional<platform::URL> url;
    std::optional<PNVideoResolution> resolution;
    bool preload = true;
    {
        std::lock_guard lock(mutex_);
        url = url_;
        resolution = resolution_;
        preload = isPreload_;
    }
    if (url && resolution) {
        if (const auto total = cache_->knownSize(*url)) {
            if (preload)
                return cache_->preloadLimit(*total, *resolution);
            return isBounded(range) ? upperBound(range) : *total;
        }
    }
    return isBounded(range) ? upperBound(range) : size.value_or(lowerBound(range)) - 1;
}

PNByteRange PNVideoLoaderRequest::buildRange(PNByteRange range, std::int64_t from) const {
    const std::int64_t end = rangeEnd(range, from);
    return {from, end - from < 0 ? -1 : end - from};
}

// --- Choosing what to load ---

std::optional<PNVideoLoaderRequest::LocalFile> PNVideoLoaderRequest::localFile() const {
    const auto file = PNLocalVideoCache::shared().videoLocalMediaURL(video_->videoID());
    if (!file || !file->isFileURL())
        return std::nullopt;
    const auto attributes = platform::FileManager::defaultManager().attributesOfItem(file->path());
    if (!attributes || !attributes->isRegularFile())
        return std::nullopt;
    return LocalFile{file->path(), static_cast<std::int64_t>(attributes->size)};
}

void PNVideoLoaderRequest::updateRequestParams() {
    std::optional<platform::URL> url = this->url();
    if (!url) {
        const PNVideoResolution chosen = cache_->getClosestPreloadedResolution(*video_).value_or(
            PNThroughputManager::shared().resolution());
        if (auto found = video_->mp4URL(chosen)) {
            std::lock_guard lock(mutex_);
            // Chosen once: a later throughput change never moves a started video.
            if (!url_) {
                url_ = found;
                resolution_ = chosen;
            }
            url = url_;
        }
    }
    bool cached = false;
    if (!url) {
        cached = localFile().has_value();
    } else {
        const std::int64_t total = cache_->knownSize(*url).value_or(0);
        const auto size = cache_->dataSize(*url);
        if (!size) {
            cached = false;
        } else if (total == 0) {
            // Bytes of a file whose length is not known yet (a reply without one, or totals
            // dropped by a memory warning) are kept: the next download goes on after them.
            cached = false;
        } else if (*size < 1) {
            cached = false;
        } else if (*size == total) {
            cached = true;
        } else {
            cached = rangeEnd(primaryRange(), std::nullopt) <= *size;
        }
    }
    {
        std::lock_guard lock(mutex_);
        isCached_ = cached;
    }
    log("request_params_" + (url ? url->absoluteString() : std::string("none")) + "_" +
        flag(cached));
}

// --- Queue operations ---

void PNVideoLoaderRequest::start() {
    queue_->async(platform::weakly(this, [](PNVideoLoaderRequest& self) {
        self.updateRequestParams();
        bool begin = false;
        bool requesting = false;
        bool cached = false;
        {
            std::lock_guard lock(self.mutex_);
            requesting = self.isRequesting_;
            cached = self.isCached_;
            begin = !cached && !requesting;
            if (begin)
                self.isRequesting_ = true;
        }
        self.log("request_start_" + flag(requesting) + "_cached_" + flag(cached));
        if (begin)
            self.updateRequests();
    }));
}

void PNVideoLoaderRequest::addListener(PNVideoLoaderRequestListenerPtr listener,
                                       std::function<void()> completion) {
    queue_->async(
        platform::weakly(this, [listener = std::move(listener),
                                completion = std::move(completion)](PNVideoLoaderRequest& self) {
            self.log("add_listener_" + describe(listener->range()));
            {
                // Someone waits for these bytes now: worth an attempt before the delay is up,
                // or after a refusal.
                std::lock_guard lock(self.mutex_);
                self.retryAt_.reset();
                self.refused_ = false;
            }
            auto list = self.listeners();
            list.push_back(listener);
            self.updateListeners(std::move(list));
            if (completion)
                completion();
        }));
}

void PNVideoLoaderRequest::removeListener(const PNVideoLoaderRequestListenerPtr& listener) {
    queue_->async(platform::weakly(this, [listener](PNVideoLoaderRequest& self) {
        self.log("remove_listener_" + describe(listener->range()));
        auto list = self.listeners();
        const std::string id = listener->id();
        std::erase_if(list, [&](const auto& other) { return other->id() == id; });
        self.updateListeners(std::move(list));
    }));
}

void PNVideoLoaderRequest::setPreload(bool isPreload, std::function<void(bool)> completion) {
    queue_->async(platform::weakly(
        this, [isPreload, completion = std::move(completion)](PNVideoLoaderRequest& self) {
            bool changed = false;
            {
                std::lock_guard lock(self.mutex_);
                changed = self.isPreload_ != isPreload;
                self.isPreload_ = isPreload;
            }
            if (changed) {
                self.log("request_preload_" + flag(isPreload));
                self.updateRequestParams();
                std::lock_guard lock(self.mutex_);
                if (self.isCompleted_ && !self.isCached_ && !self.refused_)
                    self.isCompleted_ = false;
            }
            if (completion)
                completion(changed);
        }));
}

PNVideoLoaderRequest::~PNVideoLoaderRequest() {
    // Nothing can reach the request any more: what it downloads would go nowhere.
    for (const Running& download : requests_) download.token->cancelIt();
}

void PNVideoLoaderRequest::cancel() {
    {
        std::vector<Running> running;
        // A plan under way either ran before this (and its downloads are cancelled here) or
        // runs after it and finds the request no longer requesting.
        std::lock_guard downloads(downloadLock_);
        {
            std::lock_guard lock(mutex_);
            running.swap(requests_);
            isRequesting_ = false;
        }
        for (const Running& download : running) download.token->cancelIt();
    }
    log("request_cancel");
}

void PNVideoLoaderRequest::updateListeners(std::vector<PNVideoLoaderRequestListenerPtr> list) {
    std::vector<PNByteRange> ranges;
    for (const auto& listener : list) ranges.push_back(listener->range());
    log("new_listeners_" + describe(ranges));
    {
        std::lock_guard lock(mutex_);
        listeners_ = std::move(list);
    }
    updateRequestParams();
    sendPreloaded();
    bool requesting = false;
    {
        std::lock_guard lock(mutex_);
        requesting = isRequesting_;
        if (!requesting)
            isCompleted_ = isCached_ || refused_;
    }
    if (requesting)
        updateRequests();
}

void PNVideoLoaderRequest::completeAll(const std::optional<platform::Error>& error) {
    for (const auto& listener : listeners()) listener->completed(error);
}

void PNVideoLoaderRequest::sendPreloaded() {
    const auto url = this->url();
    std::optional<LocalFile> file;
    std::optional<std::int64_t> total;
    if (url) {
        total = cache_->knownSize(*url);
    } else if ((file = localFile())) {
        total = file->size;
    } else {
        log("send_preloaded_no_url");
        return;
    }
    if (!total) {
        log("send_preloaded_no_size");
        return;
    }
    const auto list = listeners();
    if (list.empty()) {
        log("send_preloaded_no_listener");
        return;
    }
    for (const auto& listener : list) listener->size(*total);
    // A local recording is whole: its size is the cached size.
    const auto cached = url ? cache_->dataSize(*url) : total;
    if (!cached) {
        log("send_preloaded_no_data_size");
        return;
    }
    const PNByteRange primary = list.front()->range();
    const std::int64_t end = isBounded(primary) ? std::min(*cached, upperBound(primary)) : *cached;
    for (const auto& listener : list) {
        const std::int64_t current = listener->dataOffset();
        log("send_preloaded_" + std::to_string(current) + "-" + std::to_string(end));
        // In slices: a long cached file never sits in memory whole, and the slices' memory
        // is reused from one to the next.
        bool failed = false;
        for (std::int64_t from = current; from < end && !failed; from += servingSlice) {
            const std::int64_t to = std::min(end, from + servingSlice);
            auto bytes =
                url ? cache_->data(*url, from, to) : PNPlayerCache::readFile(file->path, from, to);
            if (!bytes) {
                listener->completed(PNError(PNError::valuesTooLarge).toPlatformError());
                failed = true;
            } else {
                listener->dataBlock(*bytes, from);
            }
        }
        if (!failed && end == *total)
            listener->completed(std::nullopt);
    }
}

void PNVideoLoaderRequest::updateRequests() {
    const auto url = this->url();
    if (!url) {
        completeAll(PNError(PNError::videoUnavailable).toPlatformError());
        // Nothing will ever download: the slot goes to another video.
        {
            std::lock_guard lock(mutex_);
            isRequesting_ = false;
            isCompleted_ = true;
        }
        log("request_completed_true_unavailable");
        if (auto loader = delegate_.get())
            loader->enqueu();
        return;
    }
    const std::int64_t cached = cache_->dataSize(*url).value_or(0);
    std::vector<PNByteRange> needed{buildRange({cached, -1}, cached)};
    if (!isPreload()) {
        for (const auto& listener : listeners()) {
            const PNByteRange range = listener->range();
            if (upperBound(range) <= cached)
                continue;
            const std::int64_t from = lowerBound(range) >= cached
                                          ? std::max(lowerBound(range), listener->dataOffset())
                                          : cached;
            const PNByteRange need = buildRange(range, from);
            bool merged = false;
            for (PNByteRange& listed : needed) {
                if (!checkRangesOverlap(listed, need))
                    continue;
                if (std::llabs(lowerBound(listed) - lowerBound(need)) < mergeDistance) {
                    const std::int64_t location = std::min(lowerBound(listed), lowerBound(need));
                    const std::int64_t length =
                        isOpen(listed) || isOpen(need)
                            ? -1
                            : std::max(upperBound(listed), upperBound(need)) - location;
                    listed = {location, length};
                    merged = true;
                    break;
                }
            }
            if (!merged)
                needed.push_back(need);
        }
    }
    // An empty range has nothing to load; sent, it would read as "to the end of the file".
    std::erase_if(needed, [](PNByteRange range) { return range.length == 0; });
    log("video_requests_" + describe(needed));

    // Keeping, cancelling and starting are one step against cancel(); the loader's log is
    // not called under the download lock.
    std::vector<std::string> lines;
    {
        std::lock_guard downloads(downloadLock_);
        std::vector<Running> running;
        {
            std::lock_guard lock(mutex_);
            if (!isRequesting_) {
                lines.push_back("video_requests_cancelled");
                needed.clear();
            }
            running.swap(requests_);
        }
        std::vector<Running> kept;
        for (Running& download : running) {
            const PNByteRange remaining =
                buildRange(download.range, std::max(lowerBound(download.range), cached));
            auto same = std::find(needed.begin(), needed.end(), remaining);
            if (same != needed.end()) {
                lines.push_back("video_request_exist_" + describe(download.range) + "_" +
                                describe(*same));
                needed.erase(same);
                kept.push_back(std::move(download));
            } else {
                lines.push_back("video_request_cancel_" + describe(download.range));
                download.token->cancelIt();
            }
        }
        {
            std::lock_guard lock(mutex_);
            requests_.insert(requests_.begin(), kept.begin(), kept.end());
        }
        for (const PNByteRange& range : needed) {
            if (startDownload(range))
                lines.push_back("video_request_created_" + describe(range));
        }
        std::lock_guard lock(mutex_);
        // A plan that left nothing to download holds no slot.
        isRequesting_ = !requests_.empty();
    }
    for (const std::string& line : lines) log(line);
}

// --- Downloads ---

PNCancellablePtr PNVideoLoaderRequest::startDownload(PNByteRange range) {
    std::optional<platform::URL> url;
    std::optional<PNVideoResolution> resolution;
    {
        std::lock_guard lock(mutex_);
        url = url_;
        resolution = resolution_;
    }
    if (!url || !resolution)
        return nullptr;
    auto download = std::make_shared<Download>(Download{range, *url, *resolution});
    download->total = cache_->knownSize(*url).value_or(0);
    download->offset = range.location;
    download->appendable = range.location == cache_->dataSize(*url).value_or(0);

    PNCancellablePtr transfer = PNDownloader::data(
        loaderURL(*url), range,
        platform::weakly(
            this, [download](PNVideoLoaderRequest& self, const platform::SharedData& chunk,
                             std::int64_t total) { self.didReceive(download, chunk, total); }),
        platform::weakly(this, [download](PNVideoLoaderRequest& self, std::int64_t total,
                                          const std::optional<platform::Error>& error) {
            self.queue_->async(
                platform::weakly(&self, [download, total, error](PNVideoLoaderRequest& self) {
                    self.didComplete(download, total, error);
                }));
        }));
    download->caching->setTransfer(std::move(transfer));
    std::lock_guard lock(mutex_);
    requests_.push_back({range, download->caching});
    return download->caching;
}

void PNVideoLoaderRequest::didReceive(const std::shared_ptr<Download>& download,
                                      const platform::SharedData& chunk, std::int64_t total) {
    if (download->total == 0 && total > 0) {
        download->total = total;
        download->caching->write([&] { cache_->recordSize(download->url, total); });
        queue_->async(
            platform::weakly(this, [](PNVideoLoaderRequest& self) { self.sendPreloaded(); }));
    }
    const std::int64_t preloadLimit = cache_->preloadLimit(download->total, download->resolution);
    if (download->appendable) {
        const std::int64_t cachingBound =
            cachedSecondsPastPreload * cache_->videoBytesPerSecond(download->resolution) +
            preloadLimit;
        download->caching->write([&] {
            if (download->offset == 0) {
                cache_->putData(download->url, *chunk);
            } else if (download->offset < cachingBound) {
                cache_->appendData(download->url, *chunk, download->offset);
            }
        });
    }
    // The listeners take the chunk itself on the request's queue: its bytes are never copied on
    // the way to the player.
    const std::int64_t offset = download->offset;
    queue_->async(platform::weakly(this, [chunk, offset](PNVideoLoaderRequest& self) {
        for (const auto& listener : self.listeners()) listener->dataBlock(*chunk, offset);
    }));
    download->offset += static_cast<std::int64_t>(chunk->size());
    // Without a known total there is no limit to stop at. What is already on its way is
    // still cached.
    if (isPreload() && download->total > 0 && download->offset >= preloadLimit)
        download->caching->stopTransfer();
}

void PNVideoLoaderRequest::didComplete(const std::shared_ptr<Download>& download,
                                       std::int64_t total,
                                       const std::optional<platform::Error>& error) {
    {
        // By the download itself: a newer download of the same range, started after a
        // cancel, is not this one.
        std::lock_guard lock(mutex_);
        std::erase_if(requests_,
                      [&](const Running& running) { return running.token == download->caching; });
        isRequesting_ = !requests_.empty();
    }
    // A reply without a length that ran to its end without error has brought the whole
    // file: when the cache holds all of it, that is the file's length, and the reads can be
    // told it and served.
    if (!error && isOpen(download->range) && !cache_->knownSize(download->url) &&
        cache_->dataSize(download->url) == download->offset) {
        cache_->recordSize(download->url, download->offset);
        updateRequestParams();
        sendPreloaded();
    } else {
        updateRequestParams();
    }
    const bool broughtBytes = download->offset > download->range.location;
    const bool failed = error && !isCancelled(*error) && !broughtBytes;
    // A download that ran to its end without error while the file's length stayed unknown
    // has loaded everything there is; left incomplete it would be restarted for ever. One
    // that failed without a byte has loaded nothing, whatever its reply claimed.
    const auto known = cache_->knownSize(download->url);
    const std::int64_t length = total > 0 ? total : known.value_or(0);
    const bool completed =
        !failed &&
        ((length > 0 && download->offset >= rangeEnd({0, -1}, std::nullopt)) || (!error && !known));
    const bool refused = failed && isRefusal(*error);
    PNVideoLoaderRequestListenerPtr primary;
    std::optional<platform::DispatchTime> retryAt;
    {
        std::lock_guard lock(mutex_);
        if (!error || broughtBytes) {
            failuresInARow_ = 0;
            retryAt_.reset();
            lastFailedStatus_.reset();
            refused_ = false;
        } else if (refused) {
            // Asked again, the server would answer the same: the reads hear it now, and
            // nothing is downloaded until a new read asks.
            failuresInARow_ = 0;
            retryAt_.reset();
            refused_ = true;
        } else if (failed) {
            // Restarted at once, a download that failed without a byte (a dead or busy host)
            // would fail again at once, for as long as the process lives.
            failuresInARow_ = std::min(failuresInARow_ + 1, 32);
            const platform::TimeInterval delay =
                std::min(longestRetryDelay, firstRetryDelay * std::ldexp(1.0, failuresInARow_ - 1));
            retryAt = platform::DispatchTime::after(delay);
            retryAt_ = retryAt->uptime();
        }
        if (failed)
            lastFailedStatus_ = statusCode(*error);
        isCompleted_ = completed || refused_;
        if (!listeners_.empty())
            primary = listeners_.front();
    }
    if (isBounded(download->range) && download->offset == upperBound(download->range) && primary)
        primary->completed(error && !isCancelled(*error) ? error : std::nullopt);
    log("request_completed_" + flag(completed) + "_" + (error ? error->description() : "nil"));
    if (refused) {
        for (const auto& listener : listeners()) listener->failed(*error);
    }
    if (retryAt) {
        auto retry = platform::weakly(
            delegate_.weak(), [](PNVideoLoaderRequestDelegate& loader) { loader.enqueu(); });
        queue_->asyncAfter(*retryAt, std::move(retry));
    }
    if (auto delegate = delegate_.get())
        delegate->enqueu();
    // The head is in: its first frame can be made (once per file). A download that ended
    // short of it, cancelled or failed, has nothing to show yet.
    if (completed)
        cache_->prepareThumb(video_->videoID(), download->url);
}

bool PNVideoLoaderRequest::isRefusal(const platform::Error& error) const {
    const auto status = statusCode(error);
    if (!status || isRetryableStatus(error))
        return false;
    // A refused signature may be one the server has not taken in yet: only a second refusal
    // in a row is taken at its word.
    std::lock_guard lock(mutex_);
    return *status != forbiddenStatus || lastFailedStatus_ == forbiddenStatus;
}

}  // namespace pindle
