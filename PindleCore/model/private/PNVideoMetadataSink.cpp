#include "PindleCore/model/private/PNVideoMetadataSink.hpp"

#include <memory>
#include <mutex>

namespace pindle {

namespace {

struct InstalledSink {
    std::mutex mutex;
    std::shared_ptr<const PNVideoMetadataSink::Sink> sink;  // guarded by mutex
};

// Never destroyed: a video may be edited while other statics are torn down at exit.
InstalledSink& installedSink() {
    static auto* slot = new InstalledSink;
    return *slot;
}

}  // namespace

void PNVideoMetadataSink::install(Sink sink) {
    auto shared = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    InstalledSink& slot = installedSink();
    std::lock_guard lock(slot.mutex);
    slot.sink = std::move(shared);
}

void PNVideoMetadataSink::send(const std::string& videoID, const platform::Value& metadata) {
    std::shared_ptr<const Sink> sink;
    {
        InstalledSink& slot = installedSink();
        std::lock_guard lock(slot.mutex);
        sink = slot.sink;
    }
    if (sink)
        (*sink)(videoID, metadata);
}

}  // namespace pindle
