#include "examples/pindle-example/Commands.hpp"

#include <chrono>
#include <fstream>
#include <map>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNError.hpp"

namespace pindle::example {

namespace {

// Enough of a media file to recognise its container.
constexpr std::size_t signatureBytes = 16;

std::chrono::milliseconds timeoutOf(const CommandLine& line) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(line.timeoutSeconds * 1000));
}

std::optional<platform::Date> dateOf(const std::string& text) {
    if (auto date = parseDate(text))
        return date;
    double seconds = 0;
    std::size_t end = 0;
    try {
        seconds = std::stod(text, &end);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (end != text.size())
        return std::nullopt;
    return platform::Date::fromTimeIntervalSince1970(seconds);
}

bool isURL(const std::string& text) {
    return text.starts_with("http://") || text.starts_with("https://");
}

}  // namespace

Commands::Commands(CommandLine line, JsonLines& out)
    : line_(std::move(line)), out_(out), client_(timeoutOf(line_)) {}

int Commands::run() {
    if (line_.gateway)
        PNAPIConstants::setGateway(*line_.gateway, !line_.local);
    else if (line_.local)
        PNAPIConstants::setGateway(PNAPIConstants::gatewayHost(), false);

    auto started = line_.sessionToken ? client_.adoptSession(*line_.sessionToken)
                                      : client_.startSession(*line_.apiToken, *line_.identity);
    if (!started.ok()) {
        Json failure = summary(false);
        failure["stage"] = "session";
        failure["error"] = JsonLines::error(*started.error);
        out_.print(failure);
        return failed;
    }
    started_ = std::move(started.value);

    using Command = int (Commands::*)();
    static const std::map<std::string, Command> commands = {
        {"session", &Commands::session},
        {"get", &Commands::get},
        {"list", &Commands::list},
        {"by-tags", &Commands::byTags},
        {"by-identity", &Commands::byIdentity},
        {"by-ids", &Commands::byIds},
        {"count", &Commands::count},
        {"delete", &Commands::remove},
        {"sync", &Commands::sync},
        {"download", &Commands::download},
    };
    auto command = commands.find(line_.command);
    if (command == commands.end())
        return printFailure(PNError(PNError::unknown).toPlatformError());
    return (this->*command->second)();
}

Json Commands::summary(bool ok) const {
    return {{"command", line_.command}, {"ok", ok}};
}

int Commands::printFailure(const platform::Error& error) {
    Json line = summary(false);
    line["error"] = JsonLines::error(error);
    out_.print(line);
    return failed;
}

int Commands::session() {
    const auto& session = PNSession::current();
    Json line = summary(true);
    line["state"] = JsonLines::stateName(started_.state);
    line["gateway"] = PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::apiRoot();
    line["identity"] = session->identity();
    if (auto appID = session->appID())
        line["appID"] = *appID;
    if (auto expiresAt = session->expiresAt())
        line["expiresAt"] = JsonLines::date(*expiresAt);
    if (auto token = session->sessionToken())
        line["sessionToken"] = *token;
    out_.print(line);
    return succeeded;
}

int Commands::get() {
    auto result = client_.video(line_.operands[0]);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["video"] = JsonLines::video(*result.value);
    out_.print(line);
    return succeeded;
}

int Commands::printVideos(const BlockingClient::Result<std::shared_ptr<PNVideosResponse>>& result) {
    if (!result.ok())
        return printFailure(*result.error);
    for (const PNVideoPtr& video : result.value->videos())
        out_.print({{"video", JsonLines::video(*video)}});
    Json line = summary(true);
    line["count"] = result.value->videos().size();
    line["totalCount"] = result.value->totalCount();
    out_.print(line);
    return succeeded;
}

int Commands::list() {
    PNVideoFilter filter(line_.metadata, line_.tags, line_.title.value_or(""),
                         line_.owner.value_or(""));
    filter.page = line_.page;
    filter.limit = line_.perPage;
    return printVideos(client_.videosByFilter(filter, line_.sortOrder));
}

int Commands::byTags() {
    return printVideos(client_.videosByTags(line_.tags, line_.metadata, line_.page, line_.perPage,
                                            line_.sortOrder));
}

int Commands::byIdentity() {
    return printVideos(
        client_.videosByIdentity(line_.operands[0], line_.page, line_.perPage, line_.sortOrder));
}

int Commands::byIds() {
    return printVideos(client_.videosByIds(line_.operands));
}

int Commands::count() {
    auto result = client_.count(line_.tags, line_.metadata);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["count"] = result.value;
    out_.print(line);
    return succeeded;
}

int Commands::remove() {
    auto result = client_.deleteVideo(line_.operands[0]);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["id"] = line_.operands[0];
    out_.print(line);
    return succeeded;
}

int Commands::sync() {
    auto since = dateOf(line_.operands[0]);
    if (!since) {
        return printFailure(platform::Error(
            PNError::platformErrorDomain, PNError::unknown,
            {{platform::Error::localizedDescriptionKey, "not a date: " + line_.operands[0]}}));
    }
    auto result = client_.sync(*since, line_.tags, line_.metadata);
    if (!result.ok())
        return printFailure(*result.error);
    Json line = summary(true);
    line["since"] = JsonLines::date(*since);
    line["changes"] = JsonLines::value(result.value);
    out_.print(line);
    return succeeded;
}

int Commands::download() {
    const std::string& target = line_.operands[0];
    std::optional<platform::URL> url;
    if (isURL(target)) {
        url = platform::URL::fromString(target);
    } else {
        auto video = client_.video(target);
        if (!video.ok())
            return printFailure(*video.error);
        url = video.value->mp4URL(line_.resolution);
    }
    if (!url)
        return printFailure(PNError(PNError::noPlayableURL).toPlatformError());

    auto result = client_.download(*url, {line_.offset, line_.length});
    if (!result.ok())
        return printFailure(*result.error);
    const platform::Data& bytes = result.value.bytes;
    Json line = summary(true);
    line["url"] = url->absoluteString();
    line["offset"] = line_.offset;
    line["bytes"] = bytes.size();
    line["totalSize"] = result.value.totalSize;
    line["head"] = JsonLines::hexPrefix(bytes, signatureBytes);
    if (line_.outputFile) {
        std::ofstream file(*line_.outputFile, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            return printFailure(platform::Error(
                platform::CocoaError::domain, platform::CocoaError::fileWriteUnknown,
                {{platform::Error::localizedDescriptionKey, "cannot write " + *line_.outputFile}}));
        }
        line["output"] = *line_.outputFile;
    }
    out_.print(line);
    return succeeded;
}

}  // namespace pindle::example
