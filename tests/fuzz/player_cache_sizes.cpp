// The player cache's "sizes" file as found on disk when the cache starts.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "PindlePlayer/loading/PNPlayerCache.hpp"

namespace {

const std::string& documents() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/pindle-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made)
            std::abort();
        std::string path = std::string(made) + "/" + pindle::PNPlayerCache::cacheDir;
        ::mkdir(path.c_str(), 0700);
        return std::string(made);
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
