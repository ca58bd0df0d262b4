#include "PindleCore/api/PNDownloader.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>

#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"

namespace pindle {

namespace {

constexpr double bitsPerByte = 8.0;
constexpr int partialContent = 206;

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
    if (range.location < 0 ||
        __builtin_add_overflow(range.location, std::max<std::int64_t>(range.length, 0), &upper)) {
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
    const std::int64_t end = range.length > 0 ? range.location + range.length : INT64_MAX;
    // Where in the file the next chunk starts; unknown until the first chunk shows whether
    // the server honoured the range. Touched only by this download's own chunks, which never
    // overlap.
    auto position = std::make_shared<std::optional<std::int64_t>>();
    return PNRequester::instance().googleDataRequest(
        mediaRequest(url, *header),
        [dataBlock = std::move(dataBlock), position, range, end](
            const platform::SharedData& shared, std::int64_t total, int statusCode) {
            const platform::Data& chunk = *shared;
            channel().put(static_cast<double>(chunk.size()) * bitsPerByte);
            if (!*position) {
                *position = statusCode == partialContent ? range.location : 0;
            }
            const std::int64_t start = **position;
            const auto size = static_cast<std::int64_t>(chunk.size());
            **position += size;
            const std::int64_t from = std::clamp<std::int64_t>(range.location - start, 0, size);
            const std::int64_t to = std::clamp<std::int64_t>(end - start, from, size);
            if (from == 0 && to == size) {
                dataBlock(shared, total);
            } else if (from < to) {
                dataBlock(std::make_shared<const platform::Data>(chunk.begin() + from,
                                                                 chunk.begin() + to),
                          total);
            }
        },
        std::move(completion));
}

PNCancellablePtr PNDownloader::firstTwoBitesAndSize(const platform::URL& url,
                                                    BytesCompletion completion) {
    // Touched only by this download's own callbacks, which never overlap.
    auto buffer = std::make_shared<platform::Data>();
    return PNRequester::instance().googleDataRequest(
        mediaRequest(url, *httpHeader({0, 2})),
        [buffer](const platform::SharedData& chunk, std::int64_t, int) {
            buffer->insert(buffer->end(), chunk->begin(), chunk->end());
        },
        [buffer, completion = std::move(completion)](std::int64_t total,
                                                     const std::optional<platform::Error>& error) {
            completion(*buffer, total, error);
        });
}

}  // namespace pindle
