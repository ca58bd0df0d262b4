#include "PindleCore/api/PNDownloader.hpp"

#include <memory>
#include <mutex>

#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"

namespace pindle {

namespace {

constexpr double bitsPerByte = 8.0;

PNThroughputManagerChannel& channel() {
    static auto* channel =
        new std::shared_ptr<PNThroughputManagerChannel>(PNThroughputManager::shared().channel());
    return **channel;
}

platform::URLRequest mediaRequest(const platform::URL& url, const std::string& range) {
    platform::URLRequest request(url,
                                 platform::URLRequest::CachePolicy::reloadIgnoringLocalCacheData,
                                 PNDownloader::timeoutInterval);
    request.setHTTPMethod("GET");
    request.setValue(range, "Range");
    request.setNetworkServiceType(platform::URLRequest::NetworkServiceType::video);
    request.setHTTPShouldUsePipelining(true);
    return request;
}

}  // namespace

std::optional<std::string> PNDownloader::httpHeader(PNByteRange range) {
    std::int64_t upper = 0;
    if (range.location < 0 || range.length < 0 ||
        __builtin_add_overflow(range.location, range.length, &upper)) {
        return std::nullopt;
    }
    std::string end = range.location >= upper ? std::string() : std::to_string(upper - 1);
    return "bytes=" + std::to_string(range.location) + "-" + end;
}

PNCancellablePtr PNDownloader::data(const platform::URL& url, PNByteRange range,
                                    DataBlock dataBlock, Completion completion) {
    std::optional<std::string> header = httpHeader(range);
    if (!header) {
        return PNRequester::instance().refuse(
            [completion](const platform::Value&, const std::optional<platform::Error>& error) {
                completion(0, error);
            },
            platform::makeURLError(platform::URLError::badURL, "byte range out of bounds"));
    }
    return PNRequester::instance().googleDataRequest(
        mediaRequest(url, *header),
        [dataBlock = std::move(dataBlock)](const platform::Data& chunk, std::int64_t total) {
            channel().put(static_cast<double>(chunk.size()) * bitsPerByte);
            dataBlock(chunk, total);
        },
        std::move(completion));
}

PNCancellablePtr PNDownloader::firstTwoBitesAndSize(const platform::URL& url,
                                                    BytesCompletion completion) {
    // Touched only by this download's own callbacks, which never overlap.
    auto buffer = std::make_shared<platform::Data>();
    return PNRequester::instance().googleDataRequest(
        mediaRequest(url, *httpHeader({0, 2})),
        [buffer](const platform::Data& chunk, std::int64_t) {
            buffer->insert(buffer->end(), chunk.begin(), chunk.end());
        },
        [buffer, completion = std::move(completion)](std::int64_t total,
                                                     const std::optional<platform::Error>& error) {
            completion(*buffer, total, error);
        });
}

}  // namespace pindle
