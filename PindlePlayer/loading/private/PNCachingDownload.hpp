// PNCachingDownload: the cancellable of a download whose chunks go into the player cache. Its
// chunk handler writes through write(); cancelIt() waits for a chunk being written and lets
// no later one in, so once it returns the download writes nothing more to the cache, though
// chunks already on their way may still reach their handler (which then skips the cache).
// stopTransfer() only ends the transfer: a download that stops itself, having what it wanted,
// still caches what was already sent.
//
// Thread-safety: every operation may be called from any thread, but cancelIt() not from inside
// write() (it would wait for itself). Nothing is called back: write() runs its block on the
// caller's thread.
#pragma once

#include <functional>
#include <mutex>

#include "PindleCore/model/PNCancellable.hpp"

namespace pindle {

class PNCachingDownload : public PNCancellable {
  public:
    PNCachingDownload() = default;
    PNCachingDownload(const PNCachingDownload&) = delete;
    PNCachingDownload& operator=(const PNCachingDownload&) = delete;

    // The downloader's token, once the download has started. A cancel that came first is
    // passed on at once.
    void setTransfer(PNCancellablePtr transfer);
    // Runs `block` unless the download was cancelled; returns whether it ran.
    bool write(const std::function<void()>& block);
    void cancelIt() override;
    void stopTransfer();

  private:
    std::mutex writeMutex_;
    bool cancelled_ = false;  // guarded by writeMutex_

    std::mutex transferMutex_;
    PNCancellablePtr transfer_;  // guarded by transferMutex_
    bool stopped_ = false;       // guarded by transferMutex_
};

}  // namespace pindle
