// pindle-example: the SDK's example host. A command-line tool whose subcommands call the SDK's
// public operations against a backend and print the results as JSON lines; `demo` runs the
// whole tour against an embedded backend emulator. See CommandLine::usage() or --help.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "examples/pindle-example/CommandLine.hpp"
#include "examples/pindle-example/Commands.hpp"
#include "examples/pindle-example/Demo.hpp"
#include "examples/pindle-example/JsonLines.hpp"

namespace {

constexpr int usageError = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace pindle::example;
    std::string error;
    auto line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!line) {
        std::cerr << "pindle-example: " << error << " (see pindle-example --help)\n";
        return usageError;
    }
    if (line->help) {
        std::cout << CommandLine::usage();
        return EXIT_SUCCESS;
    }
    if (line->jsonOnly && !JsonLines::reserveStandardOutput()) {
        std::cerr << "pindle-example: cannot set standard output aside for --json-only\n";
        return EXIT_FAILURE;
    }
    if (line->command == "demo")
        return runDemo();

    JsonLines out;
    return Commands(std::move(*line), out).run();
}
