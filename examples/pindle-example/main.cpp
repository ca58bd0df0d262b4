// pindle-example: the SDK's example host. A command-line tool whose subcommands call the SDK's
// public operations against a backend and print the results as JSON lines; `demo` runs the
// whole tour against an embedded backend emulator. See CommandLine::usage() or --help.
//
// Its own messages go through stdio: including <iostream> would have every run construct the
// standard streams and the C++ locales at load, which no command otherwise needs.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/Demo.hpp"
#include "examples/pindle-example/Interruption.hpp"
#include "examples/pindle-example/JsonLines.hpp"

namespace {

constexpr int usageError = 2;
constexpr const char* extrasModuleName = "pindle-example-extras.so";

// The folder this program was started from, with a trailing slash; empty when unknown.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

// The entry point `name` of the extras module beside the program, which holds the commands
// that need the player library or a whole backend emulator: the other commands do not pay
// for those in memory and start-up. Null, with the reason on standard error, when missing.
template <class Entry>
Entry* extrasEntry(const char* name) {
    const std::string path = programFolder() + extrasModuleName;
    // Never closed: the SDK's threads may still run the module's callbacks as the process ends.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = ::dlerror();
        std::fprintf(stderr, "pindle-example: cannot open %s\n", reason ? reason : path.c_str());
        return nullptr;
    }
    auto* entry = reinterpret_cast<Entry*>(::dlsym(module, name));
    if (!entry)
        std::fprintf(stderr, "pindle-example: %s has no %s\n", path.c_str(), name);
    return entry;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pindle::example;
    // Before any thread starts, so that every thread inherits the blocked signals.
    Interruption::install();
    std::string error;
    auto line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!line) {
        std::fprintf(stderr, "pindle-example: %s (see pindle-example --help)\n", error.c_str());
        return usageError;
    }
    if (line->help) {
        std::fputs(CommandLine::usage().c_str(), stdout);
        return EXIT_SUCCESS;
    }
    if (line->jsonOnly && !JsonLines::reserveStandardOutput()) {
        std::fputs("pindle-example: cannot set standard output aside for --json-only\n", stderr);
        return EXIT_FAILURE;
    }
    // An interrupted command ends with the signal's status, whatever it managed meanwhile.
    const auto ended = [](int status) {
        return Interruption::requested() ? Interruption::exitStatus() : status;
    };
    if (line->command == "demo") {
        auto* demo = extrasEntry<decltype(pindleExampleDemo)>("pindleExampleDemo");
        return ended(demo ? demo() : EXIT_FAILURE);
    }
    Commands::PlayRunner play = nullptr;
    if (line->command == "play") {
        play = extrasEntry<decltype(pindleExamplePlay)>("pindleExamplePlay");
        if (!play)
            return EXIT_FAILURE;
    }

    JsonLines out;
    return ended(Commands(std::move(*line), out, play).run());
}
