// PNThroughputManagerChannel: one producer's way into the throughput estimate.
//
// A producer puts the size of every received chunk, in bits, into its channel; the channel
// hands each sample to the manager that made it. A closed channel drops what it is given.
//
// Thread-safety: put() and close() may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace pindle {

class PNThroughputManagerChannel {
  public:
    using Observer = std::function<void(double bits)>;

    explicit PNThroughputManagerChannel(Observer block);
    PNThroughputManagerChannel(const PNThroughputManagerChannel&) = delete;
    PNThroughputManagerChannel& operator=(const PNThroughputManagerChannel&) = delete;

    const std::string& uid() const { return uid_; }
    bool closed() const;

    void put(double bandwidth);
    void close();

    bool operator==(const PNThroughputManagerChannel& other) const { return uid_ == other.uid_; }
    std::size_t hash() const { return std::hash<std::string>{}(uid_); }

  private:
    const std::string uid_;
    mutable std::mutex mutex_;
    // Shared, so a put takes it without copying the function.
    std::shared_ptr<const Observer> observer_;  // guarded by mutex_
    bool closed_ = false;                       // guarded by mutex_
};

}  // namespace pindle
