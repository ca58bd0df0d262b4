// MediaFixtures: real movies for tests. writeClip() writes an H.264 MP4 (with an AAC tone
// when asked) through MediaWriter; every picture carries its frame number as a row of 16
// blocks across the top quarter of the picture, most significant bit on the left, a bright
// block for a one and a dark one for a zero. readFrameNumber() reads that code back from a
// decoded picture at any size, so a test can tell exactly which frame a player, a view or a
// recording shows.
//
// Thread-safety: free functions without shared state; safe from any thread. No callbacks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/Image.hpp"

namespace pindle::platform::testing {

struct ClipOptions {
    // REQUIRES: positive and even.
    int width = 320;
    int height = 240;
    double fps = 30;
    double seconds = 2;
    // Clockwise display rotation in degrees, stored in the file; pictures stay unturned.
    int rotation = 0;
    // The index at the front of the file, for progressive download.
    bool faststart = true;
    // Without B-frames every sample's decode time is its presentation time.
    bool bFrames = true;
    // A stereo sine tone of this pitch as an AAC track; no audio track when 0 (and no flash).
    double toneHz = 0;
    // From `toneChangeAt` seconds on, the tone has this pitch instead; 0 keeps one pitch.
    double laterToneHz = 0;
    double toneChangeAt = 0;
    // The length of the audio track when positive; else the video's.
    double audioSeconds = 0;
    // At this time (at or after 0) the picture turns white for one frame and the sound, silent
    // otherwise, clicks: a 10 ms burst of 1 kHz starting exactly at the frame's time.
    double flashAt = -1;
    // Draw the frame-number code; plain moving pictures without it.
    bool frameNumberPattern = true;
    // Fill the picture below the code with changing noise, so that the encoder spends its
    // whole bit rate (about 250 KB a second) and the file has a predictable heft.
    bool noise = false;
};

// The number of frames a clip of these options holds.
int clipFrameCount(const ClipOptions& options);

// Writes the clip to `path`, replacing any file there. Nothing on success.
platform::Status writeClip(const std::string& path, const ClipOptions& options = {});

// The bytes of a clip, for registering with a server; empty when writing failed.
std::string clipBytes(const ClipOptions& options = {});

// The clip of `options`, grown to about `size` bytes by a filler unit after each picture
// (H.264 filler data, which decoders skip): a file as heavy as a long high-rate movie that
// costs no more to make than the light clip. Empty when writing failed.
std::string heavyClipBytes(const ClipOptions& options, std::int64_t size);

// Draws the code of `frameNumber` (0 to 65535) into RGBA pixels of the given size, rows
// `bytesPerRow` apart. Synthetic cameras use it to mark their own pictures.
void drawFrameNumber(std::uint8_t* rgba, int width, int height, std::ptrdiff_t bytesPerRow,
                     int frameNumber);

// True when `image` is a flash frame (its picture, below the code, is white).
bool isFlashFrame(const Image& image);

// The frame number drawn in `image`, or nothing when the picture carries no readable code.
std::optional<int> readFrameNumber(const Image& image);

}  // namespace pindle::platform::testing
