// RunLoop: a poll(2) loop over file descriptors, the event source of socket streams.
//
// One thread calls run(); it waits for readiness of the registered descriptors and for
// work handed to perform(), and calls each source's handler and each performed block on
// that thread, outside any lock of the loop. Sources may be added, changed and removed from
// any thread, also from inside a handler; a source removed before its turn in the current
// round is not called.
//
// Thread-safety: every operation may be called from any thread. Handlers and performed
// blocks run on the thread inside run().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace pindle::platform {

class RunLoop {
  public:
    using SourceID = std::uint64_t;
    // Called with the poll(2) revents of the descriptor.
    using Handler = std::function<void(short revents)>;

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Runs until stop(). REQUIRES: no other thread is inside run().
    void run();
    void stop();

    // Runs `work` on the loop's thread, after the current round.
    void perform(std::function<void()> work);

    // Watches `fd` for `events` (POLLIN, POLLOUT; 0 pauses the source).
    SourceID addSource(int fd, short events, Handler handler);
    void updateSource(SourceID source, short events);
    void removeSource(SourceID source);

  private:
    struct Source {
        int fd;
        short events;
        Handler handler;
    };

    void wake();

    int wakeFD_ = -1;
    std::mutex mutex_;
    std::map<SourceID, Source> sources_;      // guarded by mutex_
    std::deque<std::function<void()>> work_;  // guarded by mutex_
    SourceID nextSource_ = 1;                 // guarded by mutex_
    bool stopped_ = false;                    // guarded by mutex_
};

}  // namespace pindle::platform
