// JsonLines: the example host's output: one compact JSON object per line, and the JSON forms
// of the SDK's records, errors and values that go into those lines.
//
// Keys keep the order in which they were added, so "step" or "command" and "ok" lead a line.
// Lines come from the host thread and, for notifications the host observes, from the SDK's
// reply threads; each line is written whole and flushed, so lines never interleave and a
// reader of a pipe sees each one as soon as it is printed (a list's lines, all known at once,
// go out a batch of whole lines per write). Lines for standard output go
// through the platform's StandardOutput, one write each, like the SDK's own diagnostic lines
// ("[<time>][PINLET_<channel>] ..."), which therefore never cut through a JSON line; after
// reserveStandardOutput() they go straight to the saved descriptor instead.
//
// Thread-safety: print() and close() are safe from any thread; the static conversions are
// stateless. Callbacks: none.
#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "PindleCore/api/PNSessionState.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::example {

using Json = nlohmann::ordered_json;

class JsonLines {
  public:
    // Lines to the process's standard output.
    JsonLines();
    // REQUIRES: `out` outlives every print() before close().
    explicit JsonLines(std::ostream& out);
    JsonLines(const JsonLines&) = delete;
    JsonLines& operator=(const JsonLines&) = delete;

    // From now on the process's standard output carries only the lines of JsonLines made for
    // it; everything else written there (the SDK's diagnostic lines) goes to standard error.
    // Call once, before other threads write. False when the descriptors cannot be set up.
    static bool reserveStandardOutput();

    void print(const Json& line);
    // One line {"video": ...} for each record, in order; the lines go out a batch of whole
    // lines per write rather than one write each.
    void printVideos(const std::vector<std::shared_ptr<PNVideo>>& videos);
    // Drops every later line: a reply that arrives after its caller gave up must not write to
    // a stream that may be gone.
    void close();

    static Json video(const PNVideo& video);
    // The compact text of video(), the very bytes its line would carry, written directly
    // rather than through a JSON object.
    static std::string videoText(const PNVideo& video);
    static Json error(const platform::Error& error);
    // Values that JSON cannot hold (string sets, object references, errors) get their nearest
    // JSON form: an array, the object's description, the error object.
    static Json value(const platform::Value& value);
    // The backend's date text.
    static Json date(platform::Date date);
    static const char* stateName(PNSessionState state);
    // The first `limit` bytes in hexadecimal, so a reader can recognise a file's signature.
    static std::string hexPrefix(const platform::Data& bytes, std::size_t limit);

  private:
    // Writes `text` (one line or several, without the last "\n") whole.
    void printText(std::string text);

    std::mutex mutex_;
    bool closed_ = false;             // guarded by mutex_
    std::ostream* stream_ = nullptr;  // guarded by mutex_; null for standard output
};

}  // namespace pindle::example
