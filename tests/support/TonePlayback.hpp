// TonePlayback: a sine tone played into a sound server's default sink for as long as the
// object lives, so that the sink's monitor (the private server's default source) carries it:
// what a person speaking into a microphone is to the capture tests.
//
// Thread-safety: start and destroy on one thread; the tone is written on the connection's
// loop thread.
#pragma once

#include <memory>
#include <string>

namespace pindle::testing {

class PulseAudioServer;

class TonePlayback {
  public:
    static constexpr int sampleRate = 48000;
    static constexpr double amplitude = 0.5;

    // Starts the tone of `frequency` hertz on the server at `address`; null, with `failure`,
    // when the stream cannot be made.
    static std::unique_ptr<TonePlayback> start(const std::string& address, double frequency,
                                               std::string* failure);
    ~TonePlayback();

    // Waits (a bounded while) until `server`'s monitor carries the tone: a null sink starts
    // in long blocks, so its monitor hands over nothing for a second or two after a stream
    // begins, which no microphone does.
    bool waitUntilHeard(const PulseAudioServer& server, std::string* failure);
    TonePlayback(const TonePlayback&) = delete;
    TonePlayback& operator=(const TonePlayback&) = delete;

    struct State;
    explicit TonePlayback(std::unique_ptr<State> state);

  private:
    std::unique_ptr<State> state_;
};

}  // namespace pindle::testing
