// PNVideoLoaderListener: answers one loading request of the platform player for one video.
// The player's resource-loader delegate makes one per loading request it takes; the listener
// registers itself with the player's PNVideoLoader, which hands it to the request of its
// video. That request feeds it the file's length, chunks and a completion; the listener fills
// the content information, answers the data request with exactly the bytes it still waits
// for, and finishes the loading request once its range has been delivered.
//
// A listener acts only while it is active and its loading request is open. Finishing is one
// test-and-set of `isActive`, so a loading request is never finished twice, nor answered
// after it was finished or cancelled. A request that asks only for content information is
// finished as soon as that information is filled; one that asks for both is finished once
// both have been given: a successful completion that finds the bytes delivered but the
// length not yet given leaves it for size() to finish, never finishing it as an empty file.
//
// A read the request can never serve (failed()) is finished with the error at once, whatever
// it still misses, and the listener leaves its loader: the player hears of the failure
// rather than wait for bytes that will not come.
//
// When the platform cancels the loading request, the delegate calls cancel(): it writes
// "listener_destroy", finishes the request, removes the listener from its loader and
// deactivates it.
//
// The listener holds its loader weakly: the loader keeps its listeners, and lives as long as
// the object that made it (a player view, a controller, a players manager) wants it.
//
// Thread-safety: created on the resource-loader delegate's queue (the main queue) and
// registered asynchronously; size, dataBlock and completed are called on the video request's
// serial queue; cancel and isActive from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "PindleCore/model/PNLogger.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestListener.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"

namespace pindle {

class PNVideoLoaderListener : public PNVideoLoaderRequestListener,
                              public std::enable_shared_from_this<PNVideoLoaderListener> {
  public:
    // Makes the listener and registers it with `loader`.
    static std::shared_ptr<PNVideoLoaderListener> make(
        PNVideoLoaderPtr loader, platform::AssetResourceLoadingRequestPtr loadingRequest);

    struct Private {
        explicit Private() = default;
    };
    PNVideoLoaderListener(Private, PNVideoLoaderPtr loader,
                          platform::AssetResourceLoadingRequestPtr loadingRequest);
    PNVideoLoaderListener(const PNVideoLoaderListener&) = delete;
    PNVideoLoaderListener& operator=(const PNVideoLoaderListener&) = delete;

    std::string id() const override { return id_; }
    PNByteRange range() const override { return range_; }
    // The data request's current offset; 0 without one.
    std::int64_t dataOffset() const override;
    void size(std::int64_t size) override;
    void dataBlock(const platform::Data& data, std::int64_t offset) override;
    void completed(const std::optional<platform::Error>& error) override;
    void failed(const platform::Error& error) override;

    const std::string& videoId() const { return videoId_; }
    // Null once the loader is gone.
    PNVideoLoaderPtr loader() const { return loader_.lock(); }
    const platform::AssetResourceLoadingRequestPtr& loadingRequest() const {
        return loadingRequest_;
    }
    bool isActive() const { return isActive_.load(); }
    PNLogger& logger() { return logger_; }

    // The platform cancelled the loading request.
    void cancel();

  private:
    // True for the one caller that turns the listener inactive.
    bool deactivate();
    // Takes the listener off its loader, when the loader is still there.
    void leaveLoader();
    // Whether the listener may still touch its loading request.
    bool canAnswer() const;
    std::int64_t requestedEnd() const;
    // Finishes a delivered request once everything it asked for has been given.
    void finishIfDelivered();

    const std::string id_;
    const std::string videoId_;
    const std::weak_ptr<PNVideoLoader> loader_;
    const platform::AssetResourceLoadingRequestPtr loadingRequest_;
    const PNByteRange range_;
    PNLogger logger_{PNLoggerType::VDLD};
    std::atomic<bool> isActive_{true};
    std::atomic<bool> sizeGiven_{false};
};

using PNVideoLoaderListenerPtr = std::shared_ptr<PNVideoLoaderListener>;

}  // namespace pindle
