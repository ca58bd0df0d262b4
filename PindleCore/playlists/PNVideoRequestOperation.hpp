// PNVideoRequestOperation: the fetch of one page (50 videos) of the legacy playlist's remote
// list. Every caller waiting for an index of that page joins the operation with
// addBlockCall(), and one backend request answers them all.
//
// On a successful answer the pending local edits are laid over the fetched records, the page
// goes to the delegate (held weakly), and each waiting call gets the video at its position in
// the page (nullptr past the end of a short page) and the local videos the page replaced. On a
// failed answer each gets no video and the mapped PNError; the delegate hears nothing.
// cancel() answers every waiting call at once with PNError unknown and stops the request; a
// successful answer that still arrives afterwards is stored through the delegate.
//
// Each waiting call is answered exactly once: once the operation has answered (or been
// cancelled) it refuses new calls, and the caller starts a new operation for the page.
//
// Thread-safety: every operation is safe from any thread; the waiting calls are guarded by a
// mutex that is never held while calling out. Callbacks run on the global user-interactive
// queue, one block per waiting call and in no guaranteed order, except those of cancel(),
// which run on the cancelling thread before it returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "PindleCore/model/PNAsyncOperation.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "PindleCore/playlists/PNVideoRequestOperationDelegate.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNVideoRequestOperation : public PNAsyncOperation {
  public:
    // The legacy playlist's remote page size.
    static constexpr std::int64_t videosPerRequest = 50;

    using Callback =
        std::function<void(const PNVideoPtr& video, const std::vector<PNVideoPtr>& replaced,
                           const std::optional<platform::Error>& error)>;

    // `page` is zero-based; `callback`, when given, waits for the remote index `index`.
    PNVideoRequestOperation(std::int64_t page, std::int64_t index, platform::StringSet tags,
                            platform::StringDictionary metadata, Callback callback);
    PNVideoRequestOperation(const PNVideoRequestOperation&) = delete;
    PNVideoRequestOperation& operator=(const PNVideoRequestOperation&) = delete;

    std::int64_t requestPage() const { return requestPage_; }
    const platform::StringSet& tags() const { return tags_; }
    const platform::StringDictionary& metadata() const { return metadata_; }

    std::shared_ptr<PNVideoRequestOperationDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<PNVideoRequestOperationDelegate>& delegate);

    // Adds a waiting call for the remote index `index`. False when the operation has already
    // answered or been cancelled: the call is not kept and the caller must fetch anew.
    bool addBlockCall(std::int64_t index, Callback callback);
    // How many calls are waiting.
    std::size_t blockCallCount() const;

    void main() override;
    void cancel() override;

  private:
    using BlockCall = std::pair<std::int64_t, Callback>;

    // Takes the waiting calls and closes the operation to new ones.
    std::vector<BlockCall> takeBlockCalls();
    void received(const std::shared_ptr<PNVideosResponse>& response,
                  const std::optional<platform::Error>& error);

    const std::int64_t requestPage_;
    const platform::StringSet tags_;
    const platform::StringDictionary metadata_;

    mutable std::mutex mutex_;
    std::vector<BlockCall> blockCalls_;   // guarded by mutex_
    bool closed_ = false;                 // guarded by mutex_
    PNCancellablePtr cancellationToken_;  // guarded by mutex_
    platform::WeakDelegate<PNVideoRequestOperationDelegate> delegate_;
};

using PNVideoRequestOperationPtr = std::shared_ptr<PNVideoRequestOperation>;

}  // namespace pindle
