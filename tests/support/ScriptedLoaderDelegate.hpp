// ScriptedLoaderDelegate: a resource-loader delegate for player tests that answers loading
// requests from bytes the test holds. It can answer at once, stream at a rate on virtual
// time, hold every byte at or after a given offset until released, finish every request
// with an error, or never answer. It records each request it was given and each
// cancellation, with the queue the cancellation arrived on.
//
// Thread-safety: called on its own serial queue ("test.loader"); the accessors are safe
// from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/media/AssetResourceLoaderDelegate.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"

namespace pindle::platform::testing {

class ScriptedLoaderDelegate final : public AssetResourceLoaderDelegate,
                                     public std::enable_shared_from_this<ScriptedLoaderDelegate> {
  public:
    static constexpr const char* queueLabel = "test.loader";
    static constexpr double tick = 0.1;

    struct Options {
        std::string contentType = "public.mpeg-4";
        bool byteRangeAccess = true;
        // 0: every byte at once; else this many bytes per second of virtual time.
        std::int64_t bytesPerSecond = 0;
        // Bytes at or after this offset wait for release(); -1: none wait.
        std::int64_t holdFrom = -1;
        std::optional<Error> failWith;
        bool neverAnswer = false;
    };

    struct Seen {
        AssetResourceLoadingRequestPtr request;
        bool contentInformation = false;
        std::int64_t offset = 0;
        std::int64_t length = 0;
        bool toEnd = false;
    };

    ScriptedLoaderDelegate(std::string bytes, Options options);

    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    std::vector<Seen> requests() const;
    std::vector<AssetResourceLoadingRequestPtr> cancelled() const;
    // How many cancellations arrived on another queue than the delegate's.
    int cancellationsOffQueue() const;
    // How many streaming steps have been put on the clock. Once one has, the answers move
    // only with the clock.
    int ticksScheduled() const;
    // Lets held bytes flow, up to `holdFrom` (-1: all).
    void release(std::int64_t holdFrom = -1);

    bool shouldWaitForLoadingOfRequestedResource(
        AssetResourceLoader& loader, const AssetResourceLoadingRequestPtr& request) override;
    void didCancelLoadingRequest(AssetResourceLoader& loader,
                                 const AssetResourceLoadingRequestPtr& request) override;

  private:
    void feed(const AssetResourceLoadingRequestPtr& request);
    void resumeParked();

    const std::string bytes_;
    const std::shared_ptr<DispatchQueue> queue_;

    mutable std::mutex mutex_;
    Options options_;                                        // guarded by mutex_
    std::vector<Seen> seen_;                                 // guarded by mutex_
    std::vector<AssetResourceLoadingRequestPtr> cancelled_;  // guarded by mutex_
    std::vector<AssetResourceLoadingRequestPtr> parked_;     // guarded by mutex_
    int offQueue_ = 0;                                       // guarded by mutex_
    int ticksScheduled_ = 0;                                 // guarded by mutex_
};

}  // namespace pindle::platform::testing
