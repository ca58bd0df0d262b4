// PNUploadingStateToPNVideoMapper: turns an upload record into a video record, so that a video
// still on the device, or on its way to the backend, can be listed and played like any other.
// The video has no media addresses: players find its media through the local video cache.
//
// Thread-safety: stateless; safe from any thread. Calls nothing back.
#pragma once

#include <memory>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/uploads/PNUploadingState.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class PNUploadingStateToPNVideoMapper : public platform::Object {
  public:
    // A new video carrying the record's identifier, tags, metadata, size, place (always
    // present), shot-on date, creation date, title and description, state unknown. Null when
    // `fromObject` is not the internal-caller token.
    // REQUIRES: record is not null.
    static PNVideoPtr videoObject(const PNUploadingState& record,
                                  const std::shared_ptr<platform::Object>& fromObject);
};

}  // namespace pindle
