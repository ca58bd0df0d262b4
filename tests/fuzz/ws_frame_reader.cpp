// The WebSocket frame reader on arbitrary server bytes. The first byte picks the message
// limit and the second how the rest is cut into reads, so limits and piece boundaries are
// explored together; the reader must never hold more than the limit, never deliver after
// it stopped, and never report twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "PindleCore/websocket/WSFrameReader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t limit = std::size_t{1} << (data[0] % 21);
    const std::size_t piece = 1 + data[1];
    data += 2;
    size -= 2;

    bool ended = false;
    auto check = [&] {
        if (ended)
            std::abort();  // something came after a close frame or a failure
    };
    pindle::WSFrameReader::Callbacks callbacks;
    callbacks.text = [&](const std::string& text) {
        check();
        if (text.size() > limit)
            std::abort();
    };
    callbacks.binary = [&](const pindle::platform::Data& bytes) {
        check();
        if (bytes.size() > limit)
            std::abort();
    };
    callbacks.ping = [&](const pindle::platform::Data& bytes) {
        check();
        if (bytes.size() > 125)
            std::abort();
    };
    callbacks.pong = callbacks.ping;
    callbacks.close = [&](int code, const std::optional<std::string>&) {
        check();
        if (code < 1000 || code > 4999)
            std::abort();
        ended = true;
    };
    callbacks.fail = [&](int code, const std::string&) {
        check();
        if (code != 1002 && code != 1007 && code != 1009)
            std::abort();
        ended = true;
    };
    pindle::WSFrameReader reader(std::move(callbacks), limit);
    for (std::size_t at = 0; at < size; at += piece) {
        reader.consume(data + at, std::min(piece, size - at));
        if (reader.pendingMessageSize() > limit)
            std::abort();
    }
    return 0;
}
