// AudioRenderer: the sound of one player's current item, played through one playback stream
// of the sound server. The player makes it when it first plays an item with a track that can
// be decoded, and drives it as its timeline runs and holds: play() opens the stream (or
// uncorks it), pause() corks it, seek() flushes it and reads from the new position, close()
// (or the end of the renderer) disconnects it. The volume and muted flag set the stream's
// volume on the server.
//
// While the stream plays, each fill reports to the item which media time the listener hears
// at which uptime (what the server has played, its latency included), so the item's
// timeline, and every frame picked by it, follows the sound. Nothing is reported before the
// server plays the stream (an idle sink may take seconds to start it): the timeline runs on
// the Clock meanwhile, and when the sound then lags far behind the picture the renderer drops
// what the stream holds and goes on from where the picture is. Once the stream or the server
// fails, reports stop and the timeline runs on the Clock from where the last one put it.
//
// Private to platform/media (it includes libpulse's headers).
//
// Thread-safety: all operations are safe from any thread; each takes the connection's loop
// lock, so the caller must hold no lock the loop thread takes (the item's or the player's).
// Decoding and reports run on the connection's loop thread; reports take the item's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio/private/PulseContext.hpp"
#include "platform/media/MediaSource.hpp"

namespace pindle::platform {

class PlayerItem;

class AudioRenderer : public std::enable_shared_from_this<AudioRenderer> {
  public:
    using Micros = MediaSource::Micros;

    AudioRenderer(std::shared_ptr<pulse::PulseContext> context, std::weak_ptr<PlayerItem> item,
                  std::unique_ptr<MediaSource::AudioReader> reader, float volume, bool muted);
    ~AudioRenderer();
    AudioRenderer(const AudioRenderer&) = delete;
    AudioRenderer& operator=(const AudioRenderer&) = delete;

    // Plays on from where the stream stands; the first call opens it at `from`, as position
    // `generation` of the item.
    void play(Micros from, std::uint64_t generation);
    void pause();
    // Drops what the stream holds and reads from `to` next; a generation older than the one in
    // force is a seek already superseded, and ignored.
    void seek(Micros to, std::uint64_t generation);
    void setVolume(float volume, bool muted);
    // Writes what the server wants if the last fill found the next sample's bytes missing;
    // for the player to call when the item's bytes change.
    void refillIfStarved();
    // Disconnects the stream; the renderer stays silent afterwards.
    void close();

    // False once the stream or the server failed, or after close().
    bool isAlive() const { return alive_.load(); }
    // True once the stream has been opened (for tests and the host's status).
    bool isOpen() const { return opened_.load(); }

  private:
    static void writeRequested(pa_stream* stream, std::size_t bytes, void* userdata);
    static void stateChanged(pa_stream* stream, void* userdata);
    static void started(pa_stream* stream, void* userdata);
    void fill(std::size_t bytes);
    void fillWritable();
    void retryStarved();
    void askTiming();
    void report();
    void catchUp(Micros playhead, pa_usec_t delay);
    void hold();
    void applyVolume();
    void closeLocked();

    const std::shared_ptr<pulse::PulseContext> context_;
    const std::weak_ptr<PlayerItem> item_;
    std::atomic<bool> alive_{true};
    std::atomic<bool> opened_{false};

    // Guarded by the connection's loop lock.
    std::unique_ptr<MediaSource::AudioReader> reader_;
    pa_stream* stream_ = nullptr;
    pa_operation* timingRequest_ = nullptr;  // a timing update asked for and not yet answered
    std::vector<float> buffer_;
    Micros segmentStart_ = 0;       // where the stream's sound starts since the last seek
    std::uint64_t generation_ = 0;  // of the item's position that sound belongs to
    bool corked_ = false;
    bool readerEnded_ = false;
    bool starved_ = false;  // the last fill stopped at missing bytes
    float volume_ = 1;
    bool muted_ = false;
};

}  // namespace pindle::platform
