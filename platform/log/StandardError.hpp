// StandardError: gathered writes to the process's standard error, one system call per line.
//
// writeGathered() hands all its pieces to a single writev(2), so a line made of several
// pieces (colour codes, timestamp, text) never interleaves with another thread's line.
//
// A test can capture what would be written: while a Capture object lives, each gathered
// write is appended to it (as one string) instead of going to file descriptor 2. Captures
// nest; destroying one restores the previous one.
//
// Thread-safety: all operations are safe from any thread. Nothing calls back.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindle::platform {

class StandardError {
  public:
    StandardError() = delete;

    // Writes every piece with one writev (retrying the rest after a short write or an
    // interruption). Returns false when the write failed.
    static bool writeGathered(std::span<const std::string_view> pieces);

    class Capture {
      public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;

        // Every gathered write captured so far, byte for byte.
        std::vector<std::string> writes() const;

      private:
        friend class StandardError;
        // REQUIRES: the StandardError capture lock held.
        void append(std::string write);

        // Both guarded by the StandardError capture lock: a capture has no lock of its own,
        // so no lock is ever taken while another is held.
        Capture* previous_ = nullptr;
        std::vector<std::string> writes_;
    };
};

}  // namespace pindle::platform
