// pindle-backend-emulator: runs the backend emulator on the loopback interface until
// interrupted (SIGINT or SIGTERM), for trying the SDK and its example host locally.

#include <pthread.h>
#include <signal.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/MediaFixtures.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace {

using pindle::emulator::BackendEmulator;

constexpr std::string_view usage =
    "usage: pindle-backend-emulator [options]\n"
    "  --port N            listen on 127.0.0.1:N (default: a free port)\n"
    "  --no-seed           start an empty store without the sample videos\n"
    "  --seed-count N      number of sample videos (default 25)\n"
    "  --store FILE        keep the videos in FILE (loaded at start, rewritten on change)\n"
    "  --app ID:TOKEN      accept this application id and API token (repeatable; replaces\n"
    "                      the default pindle-emulator-app:pindle-emulator-token)\n"
    "  --media DIR         also serve the files of DIR under /files/; its 720p.mp4, 540p.mp4\n"
    "                      and 360p.mp4 become the sample videos' renditions\n"
    "  --stand-in-media    serve stand-in bytes as renditions instead of movies made at\n"
    "                      start-up (starts faster; nothing plays)\n"
    "  --help              show this text\n";

using RenditionMovies = std::map<std::string, std::string>;

struct Rendition {
    const char* name;
    int width;
    int height;
};
// Portrait, as the sample videos' records say.
constexpr Rendition renditionSizes[] = {
    {"720p", 720, 1280}, {"540p", 540, 960}, {"360p", 360, 640}};
constexpr double movieSeconds = 6;
constexpr double movieToneHz = 440;
// Movies in a --media folder larger than this are not taken as renditions (they are held in
// memory).
constexpr std::uintmax_t largestRendition = 512ull * 1024 * 1024;

// The renditions a --media folder supplies: "<resolution>.mp4" files.
RenditionMovies renditionsIn(const std::filesystem::path& folder) {
    RenditionMovies movies;
    for (const Rendition& rendition : renditionSizes) {
        const auto file = folder / (std::string(rendition.name) + ".mp4");
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error) ||
            std::filesystem::file_size(file, error) > largestRendition) {
            continue;
        }
        std::ifstream in(file, std::ios::binary);
        movies[rendition.name].assign(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
    }
    return movies;
}

// A playable H.264 and AAC movie of the rendition's size, its index first, every picture
// carrying its frame number.
std::string makeMovie(const Rendition& rendition) {
    pindle::platform::testing::ClipOptions clip;
    clip.width = rendition.width;
    clip.height = rendition.height;
    clip.seconds = movieSeconds;
    clip.toneHz = movieToneHz;
    // Noise gives the movies the heft of real footage, so that a preload stops at its limit
    // well before the end.
    clip.noise = true;
    return pindle::platform::testing::clipBytes(clip);
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    try {
        std::size_t end = 0;
        value = std::stoul(text, &end);
        return end == text.size() && value <= max;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    BackendEmulator::Options options;
    std::optional<std::string> mediaFolder;
    bool makeMovies = true;
    bool applicationsGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        unsigned long number = 0;
        if (argument == "--help") {
            std::cout << usage;
            return EXIT_SUCCESS;
        } else if (argument == "--no-seed") {
            options.seed = false;
        } else if (argument == "--port") {
            auto text = value();
            if (!text || !parseNumber(*text, 65535, number)) {
                std::cerr << "--port needs a port number\n" << usage;
                return EXIT_FAILURE;
            }
            options.port = static_cast<std::uint16_t>(number);
        } else if (argument == "--seed-count") {
            auto text = value();
            if (!text || !parseNumber(*text, 100000, number)) {
                std::cerr << "--seed-count needs a number\n" << usage;
                return EXIT_FAILURE;
            }
            options.seedCount = number;
        } else if (argument == "--store") {
            auto text = value();
            if (!text) {
                std::cerr << "--store needs a file\n" << usage;
                return EXIT_FAILURE;
            }
            options.storeFile = *text;
        } else if (argument == "--app") {
            auto text = value();
            auto colon = text ? text->find(':') : std::string::npos;
            if (!text || colon == 0 || colon == std::string::npos || colon + 1 == text->size()) {
                std::cerr << "--app needs ID:TOKEN\n" << usage;
                return EXIT_FAILURE;
            }
            if (!applicationsGiven) {
                options.applications.clear();
                applicationsGiven = true;
            }
            options.applications.push_back({text->substr(0, colon), text->substr(colon + 1)});
        } else if (argument == "--stand-in-media") {
            makeMovies = false;
        } else if (argument == "--media") {
            mediaFolder = value();
            if (!mediaFolder) {
                std::cerr << "--media needs a folder\n" << usage;
                return EXIT_FAILURE;
            }
        } else {
            std::cerr << "unknown option " << argument << "\n" << usage;
            return EXIT_FAILURE;
        }
    }

    // Block the stop signals before any thread starts, so that every thread inherits the
    // mask and sigwait() below is the only place they are taken.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BackendEmulator emulator(options);
    if (mediaFolder) {
        emulator.server().media().addFolder("/files/", *mediaFolder);
    }
    auto renditions = mediaFolder ? renditionsIn(*mediaFolder) : RenditionMovies{};
    if (makeMovies) {
        for (const Rendition& rendition : renditionSizes) {
            if (renditions.count(rendition.name) == 0) {
                std::string movie = makeMovie(rendition);
                if (movie.empty()) {
                    std::cerr << "pindle-backend-emulator: cannot make the " << rendition.name
                              << " movie\n";
                    return EXIT_FAILURE;
                }
                renditions[rendition.name] = std::move(movie);
            }
        }
    }
    emulator.videos().setRenditions(std::move(renditions));
    std::string error;
    if (!emulator.start(&error)) {
        std::cerr << "pindle-backend-emulator: " << error << "\n";
        return EXIT_FAILURE;
    }
    std::cout << "pindle-backend-emulator listening on " << emulator.baseURL() << "\n"
              << "API root: " << emulator.apiURL() << "\n";
    for (const auto& application : emulator.sessions().applications()) {
        std::cout << "application " << application.id << ", API token " << application.apiToken
                  << "\n";
    }
    std::cout << emulator.store().size() << " videos in the store" << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    std::cout << "stopping" << std::endl;
    emulator.stop();
    return EXIT_SUCCESS;
}
