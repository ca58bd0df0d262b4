// SampleClip: a small generated movie for the demo to upload: moving colour bands, H.264 in
// an MP4 file.
//
// Thread-safety: a free function without shared state; safe from any thread. No callbacks.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"

namespace pindle::example {

// Writes `seconds` of 320x240 pictures at 15 frames a second to `path`. Nothing on success.
platform::Status writeSampleClip(const std::string& path, double seconds);

}  // namespace pindle::example
