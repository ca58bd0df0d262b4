// PNVideoResponse: the mapped reply of a call that returns one video.
#pragma once

#include <memory>

#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class PNVideoResponse : public platform::Object {
  public:
    // REQUIRES: video != nullptr.
    explicit PNVideoResponse(std::shared_ptr<PNVideo> video) : video_(std::move(video)) {}
    const std::shared_ptr<PNVideo>& video() const { return video_; }

  private:
    std::shared_ptr<PNVideo> video_;
};

}  // namespace pindle
