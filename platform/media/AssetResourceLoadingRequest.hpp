// AssetResourceLoadingRequest: one request of a player item for bytes or facts of a
// resource whose URL has a scheme of the host's own. The resource loader's delegate answers
// it: it fills the content information (type, length, whether byte ranges can be asked
// for), hands bytes over with respond() in order from the current offset, and ends it with
// finishLoading(), with an error when the bytes cannot be had.
//
// A request ends once: finished by the delegate or cancelled by the player (which then tells
// the delegate through didCancelLoadingRequest). Answering or finishing an ended request, or
// answering past the range asked for, is harmless: the extra is dropped and counted in
// diagnostics(), so tests can assert that it never happens.
//
// Thread-safety: all operations are safe from any thread. No callbacks to the caller; the
// player learns of answers on its own queue.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle::platform {

class AssetResourceLoadingRequest;
using AssetResourceLoadingRequestPtr = std::shared_ptr<AssetResourceLoadingRequest>;

class AssetResourceLoadingRequest : public Object {
  public:
    // What the delegate says about the resource.
    class ContentInformationRequest {
      public:
        void setContentType(std::string type);
        void setContentLength(std::int64_t length);
        void setByteRangeAccessSupported(bool supported);
        std::string contentType() const;
        std::int64_t contentLength() const;  // 0 until set
        bool isByteRangeAccessSupported() const;

      private:
        friend class AssetResourceLoadingRequest;
        explicit ContentInformationRequest(AssetResourceLoadingRequest& owner) : owner_(owner) {}
        AssetResourceLoadingRequest& owner_;
    };

    // The bytes asked for, from requestedOffset: requestedLength bytes, or everything to the
    // end of the resource when requestsAllDataToEndOfResource().
    class DataRequest {
      public:
        std::int64_t requestedOffset() const;
        std::int64_t requestedLength() const;
        bool requestsAllDataToEndOfResource() const;
        // The offset of the next byte to respond with; grows with every respond(), once the
        // player has taken the bytes in. Every byte before it is the player's, so a player
        // deciding whether this request will bring what it misses never counts bytes that
        // are still on their way to it.
        std::int64_t currentOffset() const;
        // Hands over the bytes at currentOffset(). The player copies what it keeps before
        // this returns, so the bytes may be part of a larger buffer the caller goes on using.
        void respond(std::span<const std::uint8_t> bytes);

      private:
        friend class AssetResourceLoadingRequest;
        explicit DataRequest(AssetResourceLoadingRequest& owner) : owner_(owner) {}
        AssetResourceLoadingRequest& owner_;
    };

    struct Diagnostics {
        int respondsAfterEnd = 0;
        int finishesAfterEnd = 0;
    };

    // Where the player hears of answers; called on the answering thread, no lock held. The
    // bytes are the answerer's: whatever is kept of them is copied before returning.
    class Receiver {
      public:
        virtual ~Receiver() = default;
        virtual void requestDidRespond(const AssetResourceLoadingRequestPtr& request,
                                       std::int64_t offset,
                                       std::span<const std::uint8_t> bytes) = 0;
        virtual void requestDidFinish(const AssetResourceLoadingRequestPtr& request,
                                      const std::optional<Error>& error) = 0;
    };

    struct Range {
        std::int64_t offset = 0;
        std::int64_t length = 0;
        bool toEnd = false;
    };

    // Made by the player. `range` absent: no data request.
    static AssetResourceLoadingRequestPtr make(URL url, bool wantsContentInformation,
                                               std::optional<Range> range,
                                               std::weak_ptr<Receiver> receiver);

    struct Private {
        explicit Private() = default;
    };
    AssetResourceLoadingRequest(Private, URL url, bool wantsContentInformation,
                                std::optional<Range> range, std::weak_ptr<Receiver> receiver);
    AssetResourceLoadingRequest(const AssetResourceLoadingRequest&) = delete;
    AssetResourceLoadingRequest& operator=(const AssetResourceLoadingRequest&) = delete;

    const URL& url() const { return url_; }
    // Null when not asked for.
    ContentInformationRequest* contentInformationRequest();
    DataRequest* dataRequest();

    void finishLoading();
    void finishLoading(const Error& error);
    bool isFinished() const;
    bool isCancelled() const;
    std::optional<Error> error() const;
    Diagnostics diagnostics() const;

    // The player's side: ends an open request as cancelled; false when it had ended.
    bool cancel();

    std::string description() const override;

  private:
    enum class State { open, finished, cancelled };
    void finish(std::optional<Error> error);
    void respond(std::span<const std::uint8_t> bytes);

    const URL url_;
    const std::weak_ptr<Receiver> receiver_;
    std::optional<ContentInformationRequest> contentInformation_;
    std::optional<DataRequest> dataRequest_;
    const Range range_;

    mutable std::mutex mutex_;
    std::string contentType_;          // guarded by mutex_
    std::int64_t contentLength_ = 0;   // guarded by mutex_
    bool byteRangeAccess_ = false;     // guarded by mutex_
    std::int64_t currentOffset_ = 0;   // guarded by mutex_; bytes before it are delivered
    std::int64_t answeredOffset_ = 0;  // guarded by mutex_; bytes before it are answered
    State state_ = State::open;        // guarded by mutex_
    std::optional<Error> error_;       // guarded by mutex_
    Diagnostics diagnostics_;          // guarded by mutex_
};

}  // namespace pindle::platform
