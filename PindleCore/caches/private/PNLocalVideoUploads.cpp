#include "PindleCore/caches/private/PNLocalVideoUploads.hpp"

#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle {

namespace {

class NoUploads final : public PNLocalVideoUploads {
  public:
    std::vector<std::string> unfinishedRecordingIDs() const override { return {}; }
    std::vector<std::string> uploadedIDs() const override { return {}; }
    std::vector<PNVideoPtr> recordedVideos() const override { return {}; }
    bool isClaimed(const std::string&) const override { return false; }
    void whileUnclaimed(const std::string&, const std::function<void()>& action) const override {
        action();
    }
    void remove(const std::string&) const override {}
};

// The cache may still remove a video while other statics are torn down at exit.
PNInstalled<PNLocalVideoUploads>& installedUploads() {
    static auto* slot = new PNInstalled<PNLocalVideoUploads>(std::make_shared<NoUploads>());
    return *slot;
}

}  // namespace

std::shared_ptr<const PNLocalVideoUploads> PNLocalVideoUploads::current() {
    return installedUploads().get();
}

void PNLocalVideoUploads::install(std::shared_ptr<const PNLocalVideoUploads> uploads) {
    installedUploads().install(std::move(uploads));
}

}  // namespace pindle
