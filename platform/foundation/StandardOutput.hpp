// StandardOutput: writes whole lines to the process's standard output.
//
// Each writeLine() issues a single write(2) of the text followed by "\n", and lines are
// serialised process-wide, so lines of concurrent writers never interleave.
//
// A test can capture what would be written: while a Capture object lives, lines go to it
// instead of file descriptor 1. Captures nest; destroying one restores the previous one.
//
// Thread-safety: all operations are safe from any thread. Nothing calls back.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pindle::platform {

class StandardOutput {
  public:
    StandardOutput() = delete;

    static void writeLine(std::string_view text);

    class Capture {
      public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;

        // Every line captured so far, without its "\n".
        std::vector<std::string> lines() const;
        // Every write captured so far, byte for byte (each ends in "\n").
        std::vector<std::string> writes() const;

      private:
        friend class StandardOutput;
        // REQUIRES: the StandardOutput lock held.
        void append(std::string write);

        // Both guarded by the StandardOutput lock: a capture has no lock of its own, so no
        // lock is ever taken while another is held.
        Capture* previous_ = nullptr;
        std::vector<std::string> writes_;
    };
};

}  // namespace pindle::platform
