#include "examples/pindle-example/JsonLines.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "PindleCore/model/PNVideoState.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle::example {

namespace {

// Text from the backend is not always valid UTF-8; a bad byte must not cost the whole line.
constexpr auto invalidUTF8 = nlohmann::json::error_handler_t::replace;

constexpr PNVideoResolution resolutions[] = {PNVideoResolution::r720p, PNVideoResolution::r540p,
                                             PNVideoResolution::r360p};

void putURL(Json& json, const char* key, const std::optional<platform::URL>& url) {
    if (url)
        json[key] = url->absoluteString();
}

void putDate(Json& json, const char* key, const std::optional<platform::Date>& date) {
    if (date)
        json[key] = JsonLines::date(*date);
}

// "HTTP 503 from GET /v1/videos: <the first line of the reply>" for a backend's error status;
// nothing for an error without the request's details. The query is left out: it may carry
// what a log should not.
std::optional<std::string> httpFailureText(const platform::Error& error) {
    const platform::Dictionary& info = error.userInfo();
    auto status = info.find("statusCode");
    auto method = info.find("method");
    auto address = info.find("url");
    if (status == info.end() || method == info.end() || address == info.end())
        return std::nullopt;
    auto code = status->second.asWholeNumber();
    const std::string* verb = method->second.asString();
    const std::string* text = address->second.asString();
    std::optional<platform::URL> url = text ? platform::URL::fromString(*text) : std::nullopt;
    if (!code || !verb || !url)
        return std::nullopt;
    std::string line = "HTTP " + std::to_string(*code) + " from " + *verb + " " + url->path();
    auto body = info.find("body");
    if (body != info.end()) {
        if (const std::string* first = body->second.asString(); first && !first->empty())
            line += ": " + *first;
    }
    return line;
}

// Appends `text` as a JSON string exactly as a line's dump() writes it: plain printable ASCII
// as it is, anything else (escapes, other scripts, bad UTF-8) through the serializer itself.
void appendString(std::string& out, std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    });
    if (!plain) {
        out += Json(std::string(text)).dump(-1, ' ', false, invalidUTF8);
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

void appendKey(std::string& out, std::string_view key) {
    appendString(out, key);
    out += ':';
}

void appendNumber(std::string& out, double number) {
    out += Json(number).dump();
}

// Lines of a list are gathered into writes of about this size: one write per line would cost
// a list of thousands as many system calls, and every write still holds whole lines.
constexpr std::size_t linesPerWriteBytes = 64 * 1024;

// Standard output as it was before reserveStandardOutput() moved descriptor 1 to standard
// error; -1 while nothing is reserved.
std::atomic<int> reservedOutput{-1};

// One write per line, so that a reader of a pipe gets whole lines.
void writeLine(int descriptor, std::string text) {
    text += '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        ssize_t written = ::write(descriptor, rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

bool JsonLines::reserveStandardOutput() {
    int output = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (output < 0)
        return false;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        ::close(output);
        return false;
    }
    reservedOutput = output;
    return true;
}

JsonLines::JsonLines() = default;

JsonLines::JsonLines(std::ostream& out) : stream_(&out) {}

void JsonLines::print(const Json& line) {
    printText(line.dump(-1, ' ', false, invalidUTF8));
}

void JsonLines::printVideos(const std::vector<std::shared_ptr<PNVideo>>& videos) {
    std::string text;
    for (const auto& video : videos) {
        if (!text.empty())
            text += '\n';
        text += R"({"video":)";
        text += videoText(*video);
        text += '}';
        if (text.size() >= linesPerWriteBytes) {
            printText(std::move(text));
            text.clear();
        }
    }
    if (!text.empty())
        printText(std::move(text));
}

void JsonLines::printText(std::string text) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    if (stream_)
        *stream_ << text << std::endl;
    else if (int reserved = reservedOutput; reserved >= 0)
        writeLine(reserved, std::move(text));
    else
        platform::StandardOutput::writeLine(text);
}

void JsonLines::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

Json JsonLines::video(const PNVideo& video) {
    Json json = {
        {"id", video.videoID()},
        {"title", video.title()},
        {"state", std::string(rawValue(video.state()))},
        {"tags", video.tags()},
        {"metadata", video.metadata()},
        {"width", video.width()},
        {"height", video.height()},
        {"duration", video.duration()},
    };
    if (!video.videoDescription().empty())
        json["description"] = video.videoDescription();
    putDate(json, "createdAt", video.creationDate());
    putDate(json, "shotOn", video.shotOn());
    putDate(json, "updatedAt", video.modifyDate());
    if (const auto& location = video.location()) {
        json["location"] = {{"lat", location->coordinate().latitude},
                            {"lng", location->coordinate().longitude}};
    }
    if (video.transcription())
        json["transcription"] = *video.transcription();
    putURL(json, "thumbnail", video.thumbnailImageURL());
    putURL(json, "share", video.shareURL());
    Json mp4 = Json::object();
    for (PNVideoResolution resolution : resolutions) {
        if (auto url = video.mp4URL(resolution))
            mp4[toString(resolution)] = url->absoluteString();
    }
    json["mp4"] = std::move(mp4);
    return json;
}

std::string JsonLines::videoText(const PNVideo& video) {
    std::string out = "{";
    appendKey(out, "id");
    appendString(out, video.videoID());
    out += ',';
    appendKey(out, "title");
    appendString(out, video.title());
    out += ',';
    appendKey(out, "state");
    appendString(out, rawValue(video.state()));
    out += ",\"tags\":[";
    bool first = true;
    for (const std::string& tag : video.tags()) {
        if (!first)
            out += ',';
        first = false;
        appendString(out, tag);
    }
    out += "],\"metadata\":{";
    first = true;
    for (const auto& [key, value] : video.metadata()) {
        if (!first)
            out += ',';
        first = false;
        appendKey(out, key);
        appendString(out, value);
    }
    out += "},\"width\":" + std::to_string(video.width());
    out += ",\"height\":" + std::to_string(video.height());
    out += ",\"duration\":";
    appendNumber(out, video.duration());
    const auto put = [&out](const char* key, std::string_view text) {
        out += ',';
        appendKey(out, key);
        appendString(out, text);
    };
    if (const std::string description = video.videoDescription(); !description.empty())
        put("description", description);
    if (const auto date = video.creationDate())
        put("createdAt", toString(*date));
    if (const auto date = video.shotOn())
        put("shotOn", toString(*date));
    if (const auto date = video.modifyDate())
        put("updatedAt", toString(*date));
    if (const auto& location = video.location()) {
        out += ",\"location\":{\"lat\":";
        appendNumber(out, location->coordinate().latitude);
        out += ",\"lng\":";
        appendNumber(out, location->coordinate().longitude);
        out += '}';
    }
    if (const auto transcription = video.transcription())
        put("transcription", *transcription);
    if (const auto url = video.thumbnailImageURL())
        put("thumbnail", url->absoluteString());
    if (const auto url = video.shareURL())
        put("share", url->absoluteString());
    out += ",\"mp4\":{";
    first = true;
    for (PNVideoResolution resolution : resolutions) {
        if (auto url = video.mp4URL(resolution)) {
            if (!first)
                out += ',';
            first = false;
            appendKey(out, toString(resolution));
            appendString(out, url->absoluteString());
        }
    }
    out += "}}";
    return out;
}

Json JsonLines::error(const platform::Error& error) {
    Json json = {{"domain", error.domain()},
                 {"code", error.code()},
                 {"description", httpFailureText(error).value_or(error.localizedDescription())}};
    auto status = error.userInfo().find("statusCode");
    if (status != error.userInfo().end())
        json["statusCode"] = value(status->second);
    return json;
}

Json JsonLines::value(const platform::Value& value) {
    using Kind = platform::Value::Kind;
    switch (value.kind()) {
        case Kind::null:
            return nullptr;
        case Kind::boolean:
            return *value.asBool();
        case Kind::integer:
            return *value.asWholeNumber();
        case Kind::real:
            return *value.asDouble();
        case Kind::string:
            return *value.asString();
        case Kind::array: {
            Json array = Json::array();
            for (const platform::Value& element : *value.asArray())
                array.push_back(JsonLines::value(element));
            return array;
        }
        case Kind::dictionary: {
            Json object = Json::object();
            for (const auto& [key, element] : *value.asDictionary())
                object[key] = JsonLines::value(element);
            return object;
        }
        case Kind::stringSet:
            return *value.asStringSet();
        case Kind::object: {
            auto object = value.asObject();
            return object ? Json(object->description()) : Json(nullptr);
        }
        case Kind::error:
            return error(*value.asError());
    }
    return nullptr;
}

Json JsonLines::date(platform::Date date) {
    return toString(date);
}

const char* JsonLines::stateName(PNSessionState state) {
    switch (state) {
        case PNSessionState::started:
            return "started";
        case PNSessionState::starting:
            return "starting";
        case PNSessionState::stopped:
            return "stopped";
        case PNSessionState::failed:
            return "failed";
    }
    return "unknown";
}

std::string JsonLines::hexPrefix(const platform::Data& bytes, std::size_t limit) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

}  // namespace pindle::example
