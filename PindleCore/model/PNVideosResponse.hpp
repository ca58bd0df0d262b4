// PNVideosResponse: the result of the list and count calls: the records in reply order and
// the number of videos matching the query on the backend (which can exceed the records given).
//
// Thread-safety: immutable after construction.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class PNVideosResponse : public platform::Object {
  public:
    PNVideosResponse(std::vector<std::shared_ptr<PNVideo>> videos, std::int64_t totalCount)
        : videos_(std::move(videos)), totalCount_(totalCount) {}

    const std::vector<std::shared_ptr<PNVideo>>& videos() const { return videos_; }
    std::int64_t totalCount() const { return totalCount_; }

  private:
    std::vector<std::shared_ptr<PNVideo>> videos_;
    std::int64_t totalCount_;
};

}  // namespace pindle
