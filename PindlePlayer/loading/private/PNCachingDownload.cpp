#include "PindlePlayer/loading/private/PNCachingDownload.hpp"

namespace pindle {

void PNCachingDownload::setTransfer(PNCancellablePtr transfer) {
    {
        std::lock_guard lock(transferMutex_);
        transfer_ = transfer;
        if (!stopped_)
            return;
    }
    if (transfer)
        transfer->cancelIt();
}

bool PNCachingDownload::write(const std::function<void()>& block) {
    // Held across the block: a cancel arriving meanwhile waits for the chunk to land whole.
    std::lock_guard lock(writeMutex_);
    if (cancelled_)
        return false;
    block();
    return true;
}

void PNCachingDownload::cancelIt() {
    {
        std::lock_guard lock(writeMutex_);
        cancelled_ = true;
    }
    stopTransfer();
}

void PNCachingDownload::stopTransfer() {
    PNCancellablePtr transfer;
    {
        std::lock_guard lock(transferMutex_);
        stopped_ = true;
        transfer = transfer_;
    }
    if (transfer)
        transfer->cancelIt();
}

}  // namespace pindle
