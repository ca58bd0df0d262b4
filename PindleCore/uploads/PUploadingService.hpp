// PUploadingService: the legacy service that uploads recorded and imported files, one video
// at a time.
//
// For now only the entry point the legacy start-up needs exists:
// startNonCompletedUploadingsAgain() is counted, so the start-up's deferred restart can be
// checked. The uploading itself arrives with the uploads layer.
//
// Thread-safety: safe from any thread.
#pragma once

#include <atomic>

namespace pindle::legacy {

class PUploadingService {
public:
    static PUploadingService& getInstance();

    PUploadingService(const PUploadingService&) = delete;
    PUploadingService& operator=(const PUploadingService&) = delete;

    void startNonCompletedUploadingsAgain();
    int restartCount() const { return restarts_.load(); }

private:
    PUploadingService() = default;
    std::atomic<int> restarts_{0};
};

}  // namespace pindle::legacy
