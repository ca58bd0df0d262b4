#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/emulator/BodySource.hpp"

#include "tools/emulator/Fault.hpp"
#include "tools/emulator/Headers.hpp"

namespace pindle::emulator {

// One HTTP reply to be sent by the emulator: status, header fields and the whole body.
// "Content-Length" is written by the server from the body unless the reply sets it itself
// (a reply to HEAD keeps the length of the body it leaves out).
// Thread-safety: a plain value.
struct Response {
    unsigned status = 200;
    Headers headers;
    std::string body;
    // When set, the body is instead `bodyLength` bytes of this source from `bodyOffset`, sent
    // by slices (media files are never copied whole into a reply).
    std::shared_ptr<const BodySource> bodySource;
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodyLength = 0;
    // How a handler wants its own reply delivered (late, or not at all); a fault scripted for
    // the path wins over it.
    std::optional<Fault> fault;

    static Response json(unsigned status, const nlohmann::json& body, Headers headers = {});
    static Response text(unsigned status, std::string body,
                         std::string contentType = "text/plain; charset=utf-8");
    static Response empty(unsigned status);
    // A JSON body {"error": message}, the form every failure of the REST resources takes.
    static Response error(unsigned status, std::string message);

    Response& withHeader(std::string name, std::string value);
    std::uint64_t bodySize() const { return bodySource ? bodyLength : body.size(); }
};

}  // namespace pindle::emulator
