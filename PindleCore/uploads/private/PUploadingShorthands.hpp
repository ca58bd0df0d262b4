// PUploadingShorthands: the two shared objects every part of the upload path consults, the
// session's token and the upload records, under short names.
//
// Thread-safety: as the objects they return.
#pragma once

#include <memory>

#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"

namespace pindle::legacy {

inline const std::shared_ptr<PNTokenObject>& token() {
    return PNTokenObject::sharedInstance();
}

inline PNUploadingStateManager& manager() {
    return PNUploadingStateManager::shared();
}

}  // namespace pindle::legacy
