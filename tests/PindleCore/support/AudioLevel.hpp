// audioLevel: how loud a written movie's sound is over a stretch of its timeline, for tests
// that check muted, ramped or moved sound in files the SDK wrote; audioSamples: the sound
// itself, for tests that look at what it carries.
//
// Thread-safety: a plain function; call from any thread. No callbacks.
#pragma once

#include <string>
#include <vector>

namespace pindle::testing {

// Root mean square (0 to 1) of the first audio track's first channel, decoded, over the
// samples whose output times lie in [from, to) seconds; -1 when the file has no decodable
// sound there.
double audioLevel(const std::string& path, double from, double to);

// The first audio track's first channel, decoded, from output time 0 on, with its rate in
// `rate`; empty when the file has no decodable sound.
std::vector<float> audioSamples(const std::string& path, int* rate);

}  // namespace pindle::testing
