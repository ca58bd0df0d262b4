#include "examples/pindle-example/CommandLine.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <sstream>
#include <string_view>

#include "PindleCore/model/PNBackendDate.hpp"

namespace pindle::example {

namespace {

constexpr int unlimited = -1;
constexpr std::size_t synopsisWidth = 30;

struct Subcommand {
    const char* name;
    int minOperands;
    int maxOperands;
    const char* operands;
    const char* summary;
};

const Subcommand subcommands[] = {
    {"session", 0, 0, "", "start a session and print it"},
    {"get", 1, 1, "VIDEO_ID", "one video"},
    {"list", 0, 0, "", "videos by filter (--title, --owner, --tags, --metadata, paging)"},
    {"by-tags", 0, 0, "", "videos by --tags and --metadata, paged"},
    {"by-identity", 1, 1, "IDENTITY", "videos of one identity, paged"},
    {"by-ids", 1, unlimited, "VIDEO_ID...", "videos by identifiers"},
    {"count", 0, 0, "", "number of videos with --tags and --metadata"},
    {"delete", 1, 1, "VIDEO_ID", "delete one video"},
    {"sync", 1, 1, "DATE", "ids of videos created, updated and deleted since DATE"},
    {"download", 1, 1, "VIDEO_ID|URL", "a byte range of a video's media, by range requests"},
    {"upload", 1, 1, "FILE", "upload an MP4 file (--tags, --metadata, --title) and wait for it"},
    {"import", 1, 1, "FILE",
     "save an MP4 file to the photo library as a movie, then upload the library's copy"},
    {"resume", 0, 0, "", "let the SDK restart unfinished uploads and wait for them"},
    {"uploads", 0, 0, "", "the upload records kept in the application home"},
    {"play", 1, unlimited, "VIDEO_ID | --playlist TAG...",
     "play through the player controller, printing its events"},
    {"record", 0, 0, "",
     "record --seconds from the camera (--camera DEVICE, or --synthetic) and microphone into "
     "--output DIR (--upload)"},
    {"devices", 0, 0, "",
     "the cameras, microphone, sound output, display and location service found, and why a "
     "fallback was taken"},
    {"demo", 0, 0, "", "start the embedded backend emulator and walk through the SDK"},
};

using Apply = std::function<bool(CommandLine&, const std::string& value)>;

struct Option {
    const char* name;
    const char* valueName;  // nullptr for a flag
    const char* summary;
    Apply apply;
};

template <class Number>
bool parseNumber(const std::string& text, Number& out) {
    Number value{};
    auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (status != std::errc() || end != text.data() + text.size())
        return false;
    out = value;
    return true;
}

bool parseCount(const std::string& text, std::int64_t& out, std::int64_t minimum) {
    std::int64_t value = 0;
    if (!parseNumber(text, value) || value < minimum)
        return false;
    out = value;
    return true;
}

void addTags(CommandLine& line, const std::string& list) {
    std::stringstream stream(list);
    std::string tag;
    while (std::getline(stream, tag, ',')) {
        if (!tag.empty())
            line.tags.insert(tag);
    }
}

const std::vector<Option>& options() {
    static const std::vector<Option> table = {
        {"--gateway", "HOST[:PORT]", "the backend's gateway host (default: the SDK's)",
         [](CommandLine& l, const std::string& v) {
             l.gateway = v;
             return CommandLine::isGateway(v);
         }},
        {"--local", nullptr, "reach the gateway over http and ws instead of https and wss",
         [](CommandLine& l, const std::string&) {
             return l.local = true;
         }},
        {"--api-token", "TOKEN", "the application's API token (with --identity)",
         [](CommandLine& l, const std::string& v) {
             return !(l.apiToken = v)->empty();
         }},
        {"--identity", "NAME", "the user the session is for (with --api-token)",
         [](CommandLine& l, const std::string& v) {
             return !(l.identity = v)->empty();
         }},
        {"--session-token", "TOKEN", "a session token already held, instead of --api-token",
         [](CommandLine& l, const std::string& v) {
             return !(l.sessionToken = v)->empty();
         }},
        {"--timeout", "SECONDS", "how long to wait for each reply (default 30)",
         [](CommandLine& l, const std::string& v) {
             return parseNumber(v, l.timeoutSeconds) && l.timeoutSeconds > 0 &&
                    std::isfinite(l.timeoutSeconds);
         }},
        {"--title", "TEXT", "list: title to match; upload: the video's title",
         [](CommandLine& l, const std::string& v) {
             return (l.title = v), true;
         }},
        {"--owner", "IDENTITY", "list: identity whose videos to match",
         [](CommandLine& l, const std::string& v) {
             return (l.owner = v), true;
         }},
        {"--tags", "A,B,...", "tags to match, or to give an upload (repeatable)",
         [](CommandLine& l, const std::string& v) {
             return addTags(l, v), true;
         }},
        {"--metadata", "KEY=VALUE", "a metadata entry to match, or to give an upload (repeatable)",
         [](CommandLine& l, const std::string& v) {
             auto equals = v.find('=');
             if (equals == 0 || equals == std::string::npos)
                 return false;
             l.metadata[v.substr(0, equals)] = v.substr(equals + 1);
             return true;
         }},
        {"--page", "N", "page to list, from 1 (default 1)",
         [](CommandLine& l, const std::string& v) {
             return parseCount(v, l.page, 1);
         }},
        {"--per-page", "N", "videos per page (default 10)",
         [](CommandLine& l, const std::string& v) {
             return parseCount(v, l.perPage, 1);
         }},
        {"--sort", "asc|desc", "order by creation date (default desc)",
         [](CommandLine& l, const std::string& v) {
             auto order = sortOrderFromRawValue(v);
             if (order)
                 l.sortOrder = *order;
             return order.has_value();
         }},
        {"--offset", "N", "download: first byte (default 0)",
         [](CommandLine& l, const std::string& v) {
             return parseCount(v, l.offset, 0);
         }},
        {"--length", "N", "download: bytes to fetch, 0 for all (default 1024)",
         [](CommandLine& l, const std::string& v) {
             return parseCount(v, l.length, 0);
         }},
        {"--resolution", "720p|540p|360p", "download: rendition (default 720p)",
         [](CommandLine& l, const std::string& v) {
             auto resolution = videoResolutionFromString(v);
             if (resolution)
                 l.resolution = *resolution;
             return resolution.has_value();
         }},
        {"--seconds", "SECONDS",
         "record: how long to record (default 3, at most 600); play: seconds of playback "
         "(default 5)",
         [](CommandLine& l, const std::string& v) {
             constexpr double longest = 600;
             if (!parseNumber(v, l.recordSeconds) || !(l.recordSeconds > 0) ||
                 l.recordSeconds > longest)
                 return false;
             l.seconds = l.recordSeconds;
             l.secondsGiven = true;
             return true;
         }},
        {"--upload", nullptr, "record: hand the 720p recording to the uploads and wait for it",
         [](CommandLine& l, const std::string&) {
             l.uploadRecording = true;
             return true;
         }},
        {"--camera", "DEVICE",
         "record: the camera to record from (a V4L2 device, /dev/video0, or a movie file "
         "standing in for one)",
         [](CommandLine& l, const std::string& v) {
             return !(l.camera = v)->empty();
         }},
        {"--synthetic", nullptr, "record: the synthetic camera and microphone, whatever is found",
         [](CommandLine& l, const std::string&) {
             return l.synthetic = true;
         }},
        {"--output", "FILE", "download: write the bytes to FILE; record: the folder",
         [](CommandLine& l, const std::string& v) {
             return !(l.outputFile = v)->empty();
         }},
        {"--playlist", nullptr, "play: the operands are tags; play their videos in order",
         [](CommandLine& l, const std::string&) {
             return l.playlist = true;
         }},
        {"--mute", nullptr, "play: silently (sound plays when a sound server answers)",
         [](CommandLine& l, const std::string&) {
             return l.mute = true;
         }},
        {"--snapshot", "FILE", "play: write a PNG of the player to FILE at the end",
         [](CommandLine& l, const std::string& v) {
             return !(l.snapshotFile = v)->empty();
         }},
        {"--window", nullptr,
         "play: show the player in a desktop window; record: show the camera's preview in "
         "one; closing it or Escape ends the command",
         [](CommandLine& l, const std::string&) {
             return l.window = true;
         }},
        {"--json-only", nullptr, "standard output carries only JSON; SDK diagnostics go to stderr",
         [](CommandLine& l, const std::string&) {
             return l.jsonOnly = true;
         }},
        {"--help", nullptr, "show this text",
         [](CommandLine& l, const std::string&) {
             return l.help = true;
         }},
    };
    return table;
}

const Option* findOption(std::string_view name) {
    for (const Option& option : options()) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

const Subcommand* findSubcommand(std::string_view name) {
    for (const Subcommand& subcommand : subcommands) {
        if (name == subcommand.name)
            return &subcommand;
    }
    return nullptr;
}

void putEntry(std::ostringstream& text, const std::string& synopsis, const char* summary) {
    text << "  " << synopsis
         << std::string(synopsis.size() < synopsisWidth ? synopsisWidth - synopsis.size() : 1, ' ')
         << summary << "\n";
}

bool isPort(std::string_view text) {
    int port = 0;
    auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) &&
           status == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 65535;
}

bool isHostName(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    });
}

}  // namespace

std::optional<platform::Date> CommandLine::date(const std::string& text) {
    if (auto date = parseDate(text))
        return date;
    double seconds = 0;
    if (text.empty() || !parseNumber(text, seconds) || !std::isfinite(seconds))
        return std::nullopt;
    return platform::Date::fromTimeIntervalSince1970(seconds);
}

bool CommandLine::isGateway(std::string_view gateway) {
    std::string_view port;
    bool hasPort = false;
    if (gateway.starts_with('[')) {
        auto close = gateway.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        std::string_view address = gateway.substr(1, close - 1);
        if (!std::all_of(address.begin(), address.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            }))
            return false;
        std::string_view rest = gateway.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return false;
        hasPort = !rest.empty();
        port = hasPort ? rest.substr(1) : rest;
    } else {
        auto colon = gateway.find(':');
        if (colon != std::string_view::npos) {
            hasPort = true;
            port = gateway.substr(colon + 1);
        }
        if (!isHostName(gateway.substr(0, colon)))
            return false;
    }
    return !hasPort || isPort(port);
}

std::string CommandLine::usage() {
    std::ostringstream text;
    text << "usage: pindle-example [options] COMMAND [operands]\n\n"
            "Calls the SDK against a backend and prints each result as one JSON line.\n"
            "Commands other than demo start a session first, from --api-token and --identity\n"
            "or from --session-token. DATE is backend date text (2024-03-01T09:00:00.000Z) or\n"
            "seconds since 1970.\n\ncommands:\n";
    for (const Subcommand& subcommand : subcommands)
        putEntry(text, std::string(subcommand.name) + " " + subcommand.operands,
                 subcommand.summary);
    text << "\noptions:\n";
    for (const Option& option : options()) {
        std::string synopsis = option.name;
        if (option.valueName)
            synopsis += std::string(" ") + option.valueName;
        putEntry(text, synopsis, option.summary);
    }
    return text.str();
}

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& arguments,
                                              std::string& error) {
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() > 2 && argument.starts_with("--")) {
            const Option* option = findOption(argument);
            if (!option) {
                error = "unknown option " + argument;
                return std::nullopt;
            }
            std::string value;
            if (option->valueName) {
                if (i + 1 >= arguments.size()) {
                    error = argument + " needs " + option->valueName;
                    return std::nullopt;
                }
                value = arguments[++i];
            }
            if (!option->apply(line, value)) {
                error = argument + " needs " + option->valueName + ", not \"" + value + "\"";
                return std::nullopt;
            }
        } else if (line.command.empty()) {
            line.command = argument;
        } else {
            line.operands.push_back(argument);
        }
    }
    if (line.help)
        return line;

    const Subcommand* subcommand = findSubcommand(line.command);
    if (!subcommand) {
        error = line.command.empty() ? "no command given" : "unknown command " + line.command;
        return std::nullopt;
    }
    const auto operandCount = static_cast<int>(line.operands.size());
    if (operandCount < subcommand->minOperands ||
        (subcommand->maxOperands != unlimited && operandCount > subcommand->maxOperands)) {
        error = line.command + " takes " +
                (*subcommand->operands ? std::string(subcommand->operands) : "no operands");
        return std::nullopt;
    }
    if (line.command == "sync" && !date(line.operands[0])) {
        error = "sync needs DATE (2024-03-01T09:00:00.000Z or seconds since 1970), not \"" +
                line.operands[0] + "\"";
        return std::nullopt;
    }
    if (line.command == "play") {
        if (!line.playlist && operandCount != 1) {
            error = "play takes one VIDEO_ID, or --playlist and tags";
            return std::nullopt;
        }
        if (line.playlist)
            for (const auto& operand : line.operands) addTags(line, operand);
    }
    if (line.camera && line.synthetic) {
        error = "record takes --camera or --synthetic, not both";
        return std::nullopt;
    }
    // The demo brings its own backend and credentials, and a recording kept on this machine
    // or the list of devices needs none; every other command needs a session.
    const bool offline = line.command == "demo" || line.command == "devices" ||
                         (line.command == "record" && !line.uploadRecording);
    if (!offline && !line.sessionToken && !(line.apiToken && line.identity)) {
        error = line.command + " needs --api-token and --identity, or --session-token";
        return std::nullopt;
    }
    return line;
}

}  // namespace pindle::example
