// PNVideoLoaderRequestDelegate: what a video loader request needs of the loader that owns
// it. The request holds its delegate weakly.
//
// Thread-safety: enqueu() is called on the request's serial queue, log() from any thread;
// neither under a lock of the request.
#pragma once

#include <string>

namespace pindle {

class PNVideoLoaderRequestDelegate {
  public:
    virtual ~PNVideoLoaderRequestDelegate() = default;
    // A download of the request ended: the loader schedules its requests again. Called on
    // the request's queue.
    virtual void enqueu() = 0;
    // Where the request writes its log lines. Called from any thread.
    virtual void log(const std::string& line) = 0;
};

}  // namespace pindle
