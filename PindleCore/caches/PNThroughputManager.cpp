#include "PindleCore/caches/PNThroughputManager.hpp"

#include <array>
#include <chrono>

#include "platform/dispatch/Clock.hpp"

namespace pindle {

namespace {

struct Band {
    double threshold;
    PNVideoResolution resolution;
};

// Highest threshold first.
constexpr std::array<Band, 3> mappings{{
    {4'096'000.0, PNVideoResolution::r720p},
    {2'048'000.0, PNVideoResolution::r540p},
    {1'024'000.0, PNVideoResolution::r360p},
}};
constexpr PNVideoResolution fallbackResolution = PNVideoResolution::r540p;
constexpr std::size_t minimumSamplesPerWindow = 20;

double mediaTime() {
    return std::chrono::duration<double>(platform::Clock::current()->uptime()).count();
}

}  // namespace

PNThroughputManager::PNThroughputManager(Private) {}

PNThroughputManager& PNThroughputManager::shared() {
    static auto* instance = new std::shared_ptr<PNThroughputManager>(make());
    return **instance;
}

std::shared_ptr<PNThroughputManager> PNThroughputManager::make() {
    return std::make_shared<PNThroughputManager>(Private{});
}

PNVideoResolution PNThroughputManager::resolution() const {
    const double estimate = bandwidth_.load();
    for (const Band& band : mappings) {
        if (band.threshold < estimate)
            return band.resolution;
    }
    return fallbackResolution;
}

std::shared_ptr<PNThroughputManagerChannel> PNThroughputManager::channel() {
    std::lock_guard lock(lock_);
    std::shared_ptr<PNThroughputManager> self = shared_from_this();
    return std::make_shared<PNThroughputManagerChannel>(
        [self](double bits) { self->addSample(bits); });
}

void PNThroughputManager::closeChannel(const std::shared_ptr<PNThroughputManagerChannel>& channel) {
    std::lock_guard lock(lock_);
    if (channel)
        channel->close();
}

void PNThroughputManager::addSample(double bits) {
    std::lock_guard lock(lock_);
    throughputs_.push_back({mediaTime(), bits});
    windowBits_ += bits;
    recalculateBandwidth();
}

void PNThroughputManager::recalculateBandwidth() {
    const double now = mediaTime();
    while (!throughputs_.empty() && !(now - throughputs_.front().time < actualTimeInSeconds)) {
        windowBits_ -= throughputs_.front().bits;
        throughputs_.pop_front();
    }
    // Chunk sizes are whole numbers of bits, so the running sum stays exact; an empty window
    // starts again from zero whatever a caller fed in.
    if (throughputs_.empty())
        windowBits_ = 0.0;
    if (throughputs_.size() <= minimumSamplesPerWindow)
        return;

    const double duration = throughputs_.back().time - throughputs_.front().time;
    // Samples stamped at one instant give no rate to average.
    if (!(duration > 0))
        return;
    const double average = windowBits_ / duration;

    const double current = bandwidth_.load();
    bandwidth_.store(current == defaultValue ? average
                                             : current + (average - current) / diffFactor);
    if (PNLogger::config(logger_.type())) {
        logger_.log("bandwidth_" + std::to_string(bandwidth_.load() / 1'048'576.0) + "_" +
                    toString(resolution()));
    }
}

}  // namespace pindle
