// Composition: an asset assembled from edits rather than read from one file (the photo
// library answers one for a video the user edited). It holds its properties as given; no
// reader can open it, so export and image generation refuse it.
//
// Thread-safety: immutable, so safe from any thread. No callbacks.
#pragma once

#include "platform/media/Asset.hpp"

namespace pindle::platform {

class Composition;
using CompositionPtr = std::shared_ptr<Composition>;

class Composition : public Asset {
  public:
    static CompositionPtr make(MediaTime duration = MediaTime::invalid()) {
        return std::make_shared<Composition>(duration);
    }
    explicit Composition(MediaTime duration) : duration_(duration) {}

  protected:
    Properties properties() const override { return Properties{duration_, {}, {}, {}}; }

  private:
    const MediaTime duration_;
};

}  // namespace pindle::platform
