#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"

#include "platform/foundation/UUID.hpp"

namespace pindle {

namespace {

constexpr const char* mpeg4Type = "public.mpeg-4";

std::string lastPathElement(const platform::URL& url) {
    const std::string& text = url.absoluteString();
    const auto slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

PNByteRange rangeOf(const platform::AssetResourceLoadingRequestPtr& request) {
    if (auto* data = request->dataRequest())
        return PNByteRange{data->currentOffset(), data->requestedLength()};
    return PNByteRange{0, 0};
}

}  // namespace

std::shared_ptr<PNVideoLoaderListener> PNVideoLoaderListener::make(
    PNVideoLoaderPtr loader, platform::AssetResourceLoadingRequestPtr loadingRequest) {
    auto listener = std::make_shared<PNVideoLoaderListener>(Private{}, std::move(loader),
                                                            std::move(loadingRequest));
    if (auto registered = listener->loader())
        registered->addListener(listener);
    return listener;
}

PNVideoLoaderListener::PNVideoLoaderListener(
    Private, PNVideoLoaderPtr loader, platform::AssetResourceLoadingRequestPtr loadingRequest)
    : id_(platform::UUID::random().uuidString()),
      videoId_(lastPathElement(loadingRequest->url())),
      loader_(std::move(loader)),
      loadingRequest_(std::move(loadingRequest)),
      range_(rangeOf(loadingRequest_)) {}

std::int64_t PNVideoLoaderListener::dataOffset() const {
    const auto* data = loadingRequest_->dataRequest();
    return data ? data->currentOffset() : 0;
}

std::int64_t PNVideoLoaderListener::requestedEnd() const {
    const auto* data = loadingRequest_->dataRequest();
    return data ? data->requestedOffset() + data->requestedLength() : 0;
}

bool PNVideoLoaderListener::canAnswer() const {
    return isActive_.load() && !loadingRequest_->isFinished() && !loadingRequest_->isCancelled();
}

void PNVideoLoaderListener::leaveLoader() {
    if (auto registered = loader())
        registered->removeListener(shared_from_this());
}

bool PNVideoLoaderListener::deactivate() {
    bool active = true;
    return isActive_.compare_exchange_strong(active, false);
}

void PNVideoLoaderListener::size(std::int64_t size) {
    if (!canAnswer())
        return;
    logger_.log("listener_size_" + std::to_string(size));
    if (auto* information = loadingRequest_->contentInformationRequest()) {
        information->setContentType(mpeg4Type);
        information->setContentLength(size);
        information->setByteRangeAccessSupported(true);
    }
    sizeGiven_ = true;
    finishIfDelivered();
}

void PNVideoLoaderListener::dataBlock(const platform::Data& data, std::int64_t offset) {
    auto* request = loadingRequest_->dataRequest();
    if (!request || !canAnswer())
        return;
    const auto count = static_cast<std::int64_t>(data.size());
    logger_.log("listener_data_" + std::to_string(count) + " bytes_" + std::to_string(offset) +
                "_" + std::to_string(dataOffset()));
    const std::int64_t current = dataOffset();
    if (current < offset || current >= offset + count)
        return;
    const std::int64_t start = current - offset;
    const std::int64_t stop = std::min(count, requestedEnd() - offset);
    if (start < stop)
        request->respond(std::span(data).subspan(static_cast<std::size_t>(start),
                                                 static_cast<std::size_t>(stop - start)));
    finishIfDelivered();
}

void PNVideoLoaderListener::finishIfDelivered() {
    const bool needsData = loadingRequest_->dataRequest() != nullptr;
    const bool needsSize = loadingRequest_->contentInformationRequest() != nullptr;
    if (needsData && dataOffset() < requestedEnd())
        return;
    if (needsSize && !sizeGiven_)
        return;
    if (!deactivate())
        return;
    logger_.log("listener_destroy");
    loadingRequest_->finishLoading();
    leaveLoader();
}

void PNVideoLoaderListener::completed(const std::optional<platform::Error>& error) {
    if (!loadingRequest_->dataRequest() || !canAnswer())
        return;
    logger_.log("listener_completed_" + (error ? error->description() : std::string("nil")));
    if (dataOffset() < requestedEnd())
        return;
    // Finished without its length, the request would tell the player the file is empty: it
    // waits for size(), which finishes it, unless there is a failure to report.
    if (!error && loadingRequest_->contentInformationRequest() && !sizeGiven_)
        return;
    if (!deactivate())
        return;
    logger_.log("listener_completed_finish");
    if (error)
        loadingRequest_->finishLoading(*error);
    else
        loadingRequest_->finishLoading();
}

void PNVideoLoaderListener::failed(const platform::Error& error) {
    if (!canAnswer() || !deactivate())
        return;
    logger_.log("listener_failed_" + error.description());
    loadingRequest_->finishLoading(error);
    leaveLoader();
}

void PNVideoLoaderListener::cancel() {
    logger_.log("listener_destroy");
    // A cancelled request is over already: finishing it again would answer after its end.
    if (deactivate() && !loadingRequest_->isCancelled())
        loadingRequest_->finishLoading();
    leaveLoader();
}

}  // namespace pindle
