// URLSessionDataTask: a task that loads a response body into memory, handing it to its
// completion handler whole, or chunk by chunk as it arrives to a data handler or the session
// delegate.
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
