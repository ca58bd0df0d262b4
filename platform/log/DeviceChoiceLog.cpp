#include "platform/log/DeviceChoiceLog.hpp"

#include <mutex>
#include <string_view>

#include "platform/log/StandardError.hpp"

namespace pindle::platform {

namespace {

struct Choices {
    std::mutex mutex;
    std::map<std::string, std::string> byKind;  // guarded by mutex
};

Choices& shared() {
    static auto* choices = new Choices;
    return *choices;
}

}  // namespace

namespace {

void say(const std::string& kind, const std::string& choice) {
    const std::string_view pieces[] = {"pindle: ", kind, ": ", choice, "\n"};
    StandardError::writeGathered(pieces);
}

}  // namespace

bool DeviceChoiceLog::note(const std::string& kind, const std::string& choice) {
    {
        std::lock_guard lock(shared().mutex);
        if (!shared().byKind.emplace(kind, choice).second)
            return false;
    }
    say(kind, choice);
    return true;
}

bool DeviceChoiceLog::revise(const std::string& kind, const std::string& choice) {
    {
        std::lock_guard lock(shared().mutex);
        std::string& recorded = shared().byKind[kind];
        if (recorded == choice)
            return false;
        recorded = choice;
    }
    say(kind, choice);
    return true;
}

std::map<std::string, std::string> DeviceChoiceLog::choices() {
    std::lock_guard lock(shared().mutex);
    return shared().byKind;
}

}  // namespace pindle::platform
