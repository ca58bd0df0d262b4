// URLSessionDataTask: a task that loads a response body into memory, handing it to its
// completion handler whole or to the session delegate chunk by chunk as it arrives.
//
// Thread-safety and callbacks: as URLSessionTask.
#pragma once

#include "platform/net/URLSessionTask.hpp"

namespace pindle::platform {

class URLSessionDataTask : public URLSessionTask {
  public:
    using URLSessionTask::URLSessionTask;
};

}  // namespace pindle::platform
