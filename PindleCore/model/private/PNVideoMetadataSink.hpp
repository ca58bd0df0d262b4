// PNVideoMetadataSink: where PNVideo sends an accepted metadata edit so that it reaches the
// backend. The sync service that sends it lives above the model, so the model never includes
// it: the core installs the sink as the library loads (PNVideoSyncService.cpp). An edit sent
// before that, during static initialisation only, is dropped. An empty sink leaves the
// installed one in place.
//
// Thread-safety: install() and send() may be called from any thread; send() calls the sink
// on the caller's thread with no lock held.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideoMetadataSink {
  public:
    using Sink = std::function<void(const std::string& videoID, const platform::Value& metadata)>;

    static void install(Sink sink);
    static void send(const std::string& videoID, const platform::Value& metadata);
};

}  // namespace pindle
