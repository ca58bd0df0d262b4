// URLSessionUploadTask: a data task whose request body comes from bytes or from a byte range
// of a file given when the task was made, in place of the request's own body. Progress of
// the bytes sent reaches the session delegate (didSendBodyData).
//
// Thread-safety and callbacks: as URLSessionTask.
#pragma once

#include "platform/net/URLSessionDataTask.hpp"

namespace pindle::platform {

class URLSessionUploadTask : public URLSessionDataTask {
  public:
    using URLSessionDataTask::URLSessionDataTask;
};

}  // namespace pindle::platform
