// A proxy's answer to CONNECT, fed in pieces as it may arrive, then once more at the end
// of the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "PindleCore/websocket/WSProxyConnect.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Kind = pindle::WSProxyConnect::ConnectAnswer::Kind;
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] * 16;
    data += 1;
    size -= 1;
    std::string buffer;
    for (std::size_t at = 0; at <= size; at += piece) {
        bool atEnd = at + piece > size;
        buffer.append(reinterpret_cast<const char*>(data) + at, std::min(piece, size - at));
        auto answer = pindle::WSProxyConnect::readConnectAnswer(buffer, atEnd);
        if (answer.kind == Kind::pending) {
            if (atEnd || buffer.size() >= pindle::WSProxyConnect::maximumAnswerSize)
                std::abort();  // nothing more will come: it must be decided
            continue;
        }
        if (answer.kind == Kind::open && (answer.status < 200 || answer.status >= 300))
            std::abort();
        if (answer.kind == Kind::refused && answer.status < 300)
            std::abort();
        break;
    }
    return 0;
}
