#include "platform/app/ProcessGate.hpp"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

namespace pindle::platform {

namespace {

struct Armed {
    std::string point;
    int arrival = 1;
    int descriptor = -1;
};

// Read once: the environment of a test child does not change while it runs.
const Armed* armed() {
    static const Armed* gate = []() -> const Armed* {
        const char* text = std::getenv(ProcessGate::pointVariable);
        if (text == nullptr || *text == '\0')
            return nullptr;
        auto* gate = new Armed;  // never destroyed: points may be reached during exit
        gate->point = text;
        if (auto hash = gate->point.find('#'); hash != std::string::npos) {
            gate->arrival = std::max(1, std::atoi(gate->point.c_str() + hash + 1));
            gate->point.resize(hash);
        }
        if (const char* fd = std::getenv(ProcessGate::descriptorVariable))
            gate->descriptor = std::atoi(fd);
        return gate;
    }();
    return gate;
}

std::atomic<int> arrivals{0};

}  // namespace

void ProcessGate::reach(const char* point) {
    const Armed* gate = armed();
    if (gate == nullptr || gate->point != point)
        return;
    if (arrivals.fetch_add(1) + 1 != gate->arrival)
        return;
    if (gate->descriptor >= 0) {
        const std::string line = gate->point + "\n";
        [[maybe_unused]] auto written = ::write(gate->descriptor, line.data(), line.size());
    }
    ::raise(SIGSTOP);
}

}  // namespace pindle::platform
