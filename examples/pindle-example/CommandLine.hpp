// CommandLine: the example host's arguments: the subcommand, its operands and the options.
//
// Options may stand anywhere, before or after the subcommand. The first argument that is not
// an option names the subcommand, the rest are its operands. parse() checks what it can
// without the backend: known subcommand and options, operand counts, numbers, sort orders,
// resolutions, the gateway's form and sync's date.
//
// Thread-safety: a plain value. Callbacks: none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::example {

class CommandLine {
  public:
    // The usage text of --help, with every subcommand and option.
    static std::string usage();

    // The parsed arguments, or nothing with the reason in `error`.
    static std::optional<CommandLine> parse(const std::vector<std::string>& arguments,
                                            std::string& error);
    // A DATE operand: the backend's date text or seconds since 1970; nothing when neither.
    static std::optional<platform::Date> date(const std::string& text);
    // Whether `gateway` is HOST[:PORT]: a host name, an IPv4 address or a bracketed IPv6
    // address, and a port from 1 to 65535; no scheme, path or spaces.
    static bool isGateway(std::string_view gateway);

    bool help = false;
    // Standard output carries the JSON lines only; the SDK's diagnostics go to standard error.
    bool jsonOnly = false;
    std::string command;  // empty with --help alone
    std::vector<std::string> operands;

    // Where the backend is: host[:port]; nothing keeps the SDK's default gateway.
    std::optional<std::string> gateway;
    bool local = false;  // http and ws instead of https and wss

    // How to start the session.
    std::optional<std::string> apiToken;
    std::optional<std::string> identity;
    std::optional<std::string> sessionToken;

    // Query criteria.
    std::optional<std::string> title;
    std::optional<std::string> owner;  // the identity whose videos to list
    platform::StringSet tags;
    platform::StringDictionary metadata;
    std::int64_t page = 1;
    std::int64_t perPage = 10;
    PNSortOrder sortOrder = PNSortOrder::desc;

    // Downloads.
    std::int64_t offset = 0;
    std::int64_t length = 1024;  // 0: to the end of the file
    PNVideoResolution resolution = PNVideoResolution::r720p;
    std::optional<std::string> outputFile;
    // Playing.
    bool playlist = false;  // play: the operands are tags, not a video identifier
    double seconds = 5;
    bool secondsGiven = false;
    bool mute = false;  // play: the players are muted
    std::optional<std::string> snapshotFile;
    bool window = false;  // play: on the desktop, until the window is closed

    // Recording.
    double recordSeconds = 3;
    bool uploadRecording = false;
    std::optional<std::string> camera;  // a V4L2 device node; nothing: the default camera
    bool synthetic = false;             // the synthetic camera and microphone

    double timeoutSeconds = 30;
};

}  // namespace pindle::example
