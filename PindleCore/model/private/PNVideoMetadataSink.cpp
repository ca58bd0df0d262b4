#include "PindleCore/model/private/PNVideoMetadataSink.hpp"

#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle {

namespace {

// A video may be edited while other statics are torn down at exit.
PNInstalledFunction<void(const std::string&, const platform::Value&)>& installedSink() {
    static auto* slot = new PNInstalledFunction<void(const std::string&, const platform::Value&)>;
    return *slot;
}

}  // namespace

void PNVideoMetadataSink::install(Sink sink) {
    installedSink().install(std::move(sink));
}

void PNVideoMetadataSink::send(const std::string& videoID, const platform::Value& metadata) {
    installedSink().call(videoID, metadata);
}

}  // namespace pindle
