// The player cache's "sizes" file as found on disk when the cache starts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PindlePlayer/loading/PNPlayerCache.hpp"

namespace {

// The scripts give each target a scratch folder (FUZZ_SCRATCH_DIR) that is used again on
// every run; otherwise one is made under /tmp.
const std::string& documents() {
    static const std::string folder = [] {
        std::string made;
        if (const char* scratch = std::getenv("FUZZ_SCRATCH_DIR"); scratch && *scratch) {
            made = scratch;
            std::filesystem::remove_all(made);
            std::filesystem::create_directories(made);
        } else {
            char pattern[] = "/tmp/pindle-fuzz-XXXXXX";
            if (!::mkdtemp(pattern))
                std::abort();
            made = pattern;
        }
        std::filesystem::create_directories(made + "/" + pindle::PNPlayerCache::cacheDir);
        return made;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream file(documents() + "/" + pindle::PNPlayerCache::cacheDir + "/" +
                               pindle::PNPlayerCache::sizesFileName,
                           std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    pindle::PNPlayerCache::Options options;
    options.documentsDirectory = documents();
    auto cache = pindle::PNPlayerCache::make(std::move(options));
    if (auto url = pindle::platform::URL::fromString("https://cdn.test/a.mp4")) {
        auto known = cache->knownSize(*url);
        if (known && *known <= 0)
            std::abort();
    }
    return 0;
}
