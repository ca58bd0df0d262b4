#include "PindleCore/uploads/PUploadingService.hpp"

namespace pindle::legacy {

PUploadingService& PUploadingService::getInstance() {
    static PUploadingService* service = new PUploadingService;  // never destroyed
    return *service;
}

void PUploadingService::startNonCompletedUploadingsAgain() { ++restarts_; }

}  // namespace pindle::legacy
