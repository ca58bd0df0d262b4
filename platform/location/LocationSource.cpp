#include "platform/location/LocationSource.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/location/private/GeoClueLocationSource.hpp"
#include "platform/log/DeviceChoiceLog.hpp"

namespace pindle::platform {

namespace {

std::mutex sourceMutex;
std::shared_ptr<LocationSource>& sourceSlot() {  // guarded by sourceMutex
    static auto* slot = new std::shared_ptr<LocationSource>();
    return *slot;
}

std::shared_ptr<LocationSource> chooseDefault() {
    const char* forced = std::getenv(LocationSource::environmentVariable);
    std::shared_ptr<LocationSource> chosen;
    if (forced && std::strcmp(forced, "none") == 0) {
        chosen = std::make_shared<DisabledLocationSource>(
            std::string(LocationSource::environmentVariable) + "=none");
    } else {
        std::string why;
        GeoClueLocationSource::Options options;
        options.isProcessChoice = true;
        chosen = GeoClueLocationSource::connect(options, &why);
        if (!chosen)
            chosen = std::make_shared<DisabledLocationSource>(why);
    }
    DeviceChoiceLog::note("location", chosen->description());
    return chosen;
}

}  // namespace

std::shared_ptr<LocationSource> LocationSource::current() {
    std::lock_guard lock(sourceMutex);
    if (!sourceSlot())
        sourceSlot() = chooseDefault();
    return sourceSlot();
}

void LocationSource::setCurrent(std::shared_ptr<LocationSource> source) {
    std::lock_guard lock(sourceMutex);
    sourceSlot() = std::move(source);
}

}  // namespace pindle::platform
