#include "platform/media/AssetResourceLoadingRequest.hpp"

#include <algorithm>

namespace pindle::platform {

AssetResourceLoadingRequestPtr AssetResourceLoadingRequest::make(URL url,
                                                                 bool wantsContentInformation,
                                                                 std::optional<Range> range,
                                                                 std::weak_ptr<Receiver> receiver) {
    return std::make_shared<AssetResourceLoadingRequest>(
        Private{}, std::move(url), wantsContentInformation, range, std::move(receiver));
}

AssetResourceLoadingRequest::AssetResourceLoadingRequest(Private, URL url,
                                                         bool wantsContentInformation,
                                                         std::optional<Range> range,
                                                         std::weak_ptr<Receiver> receiver)
    : url_(std::move(url)), receiver_(std::move(receiver)), range_(range.value_or(Range{})) {
    if (wantsContentInformation)
        contentInformation_.emplace(ContentInformationRequest(*this));
    if (range) {
        dataRequest_.emplace(DataRequest(*this));
        currentOffset_ = range->offset;
        answeredOffset_ = range->offset;
    }
}

AssetResourceLoadingRequest::ContentInformationRequest*
AssetResourceLoadingRequest::contentInformationRequest() {
    return contentInformation_ ? &*contentInformation_ : nullptr;
}

AssetResourceLoadingRequest::DataRequest* AssetResourceLoadingRequest::dataRequest() {
    return dataRequest_ ? &*dataRequest_ : nullptr;
}

void AssetResourceLoadingRequest::ContentInformationRequest::setContentType(std::string type) {
    std::lock_guard lock(owner_.mutex_);
    owner_.contentType_ = std::move(type);
}
void AssetResourceLoadingRequest::ContentInformationRequest::setContentLength(std::int64_t length) {
    std::lock_guard lock(owner_.mutex_);
    owner_.contentLength_ = length;
}
void AssetResourceLoadingRequest::ContentInformationRequest::setByteRangeAccessSupported(
    bool supported) {
    std::lock_guard lock(owner_.mutex_);
    owner_.byteRangeAccess_ = supported;
}
std::string AssetResourceLoadingRequest::ContentInformationRequest::contentType() const {
    std::lock_guard lock(owner_.mutex_);
    return owner_.contentType_;
}
std::int64_t AssetResourceLoadingRequest::ContentInformationRequest::contentLength() const {
    std::lock_guard lock(owner_.mutex_);
    return owner_.contentLength_;
}
bool AssetResourceLoadingRequest::ContentInformationRequest::isByteRangeAccessSupported() const {
    std::lock_guard lock(owner_.mutex_);
    return owner_.byteRangeAccess_;
}

std::int64_t AssetResourceLoadingRequest::DataRequest::requestedOffset() const {
    return owner_.range_.offset;
}
std::int64_t AssetResourceLoadingRequest::DataRequest::requestedLength() const {
    return owner_.range_.length;
}
bool AssetResourceLoadingRequest::DataRequest::requestsAllDataToEndOfResource() const {
    return owner_.range_.toEnd;
}
std::int64_t AssetResourceLoadingRequest::DataRequest::currentOffset() const {
    std::lock_guard lock(owner_.mutex_);
    return owner_.currentOffset_;
}
void AssetResourceLoadingRequest::DataRequest::respond(std::span<const std::uint8_t> bytes) {
    owner_.respond(bytes);
}

void AssetResourceLoadingRequest::respond(std::span<const std::uint8_t> bytes) {
    std::int64_t offset = 0;
    auto count = static_cast<std::int64_t>(bytes.size());
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) {
            ++diagnostics_.respondsAfterEnd;
            return;
        }
        // Bytes past the range asked for are dropped and counted, as an answer after the end.
        const std::int64_t end = range_.offset + range_.length;
        if (range_.length >= 0 && end >= range_.offset && answeredOffset_ + count > end) {
            ++diagnostics_.respondsAfterEnd;
            count = std::max<std::int64_t>(0, end - answeredOffset_);
        }
        offset = answeredOffset_;
        answeredOffset_ += count;
    }
    if (count == 0)
        return;
    if (auto receiver = receiver_.lock()) {
        const auto self = std::static_pointer_cast<AssetResourceLoadingRequest>(shared_from_this());
        receiver->requestDidRespond(self, offset, bytes.first(static_cast<std::size_t>(count)));
    }
    // Only now: a player that saw the offset move before the bytes reached it would take
    // them for lost and ask for them again.
    std::lock_guard lock(mutex_);
    currentOffset_ = std::max(currentOffset_, offset + count);
}

void AssetResourceLoadingRequest::finishLoading() {
    finish(std::nullopt);
}

void AssetResourceLoadingRequest::finishLoading(const Error& error) {
    finish(error);
}

void AssetResourceLoadingRequest::finish(std::optional<Error> error) {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::open) {
            ++diagnostics_.finishesAfterEnd;
            return;
        }
        state_ = State::finished;
        error_ = error;
    }
    if (auto receiver = receiver_.lock())
        receiver->requestDidFinish(
            std::static_pointer_cast<AssetResourceLoadingRequest>(shared_from_this()), error);
}

bool AssetResourceLoadingRequest::cancel() {
    std::lock_guard lock(mutex_);
    if (state_ != State::open)
        return false;
    state_ = State::cancelled;
    return true;
}

bool AssetResourceLoadingRequest::isFinished() const {
    std::lock_guard lock(mutex_);
    return state_ == State::finished;
}

bool AssetResourceLoadingRequest::isCancelled() const {
    std::lock_guard lock(mutex_);
    return state_ == State::cancelled;
}

std::optional<Error> AssetResourceLoadingRequest::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

AssetResourceLoadingRequest::Diagnostics AssetResourceLoadingRequest::diagnostics() const {
    std::lock_guard lock(mutex_);
    return diagnostics_;
}

std::string AssetResourceLoadingRequest::description() const {
    std::lock_guard lock(mutex_);
    std::string text = "<AssetResourceLoadingRequest " + url_.absoluteString();
    if (dataRequest_)
        text += " offset " + std::to_string(range_.offset) + " length " +
                std::to_string(range_.length) + " current " + std::to_string(currentOffset_);
    return text + ">";
}

}  // namespace pindle::platform
