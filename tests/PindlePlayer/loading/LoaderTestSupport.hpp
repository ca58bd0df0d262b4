// Shared by the player cache and loader request tests: the emulator on loopback serving
// media, a player cache of the test's own in a fresh Documents folder, and a listener and a
// loader that record what a request does to them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestDelegate.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequestListener.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/support/Gate.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::testing {

// A byte-range read that keeps every byte it is handed at its file offset; it needs the
// bytes from the start of its range on, as far as they have come without a gap.
class RecordingListener : public PNVideoLoaderRequestListener {
  public:
    RecordingListener(std::string id, PNByteRange range)
        : id_(std::move(id)), range_(range), next_(range.location) {}

    std::string id() const override { return id_; }
    PNByteRange range() const override { return range_; }
    std::int64_t dataOffset() const override {
        std::lock_guard lock(mutex_);
        return next_;
    }
    void size(std::int64_t size) override {
        std::lock_guard lock(mutex_);
        size_ = size;
    }
    void dataBlock(const platform::Data& data, std::int64_t offset) override {
        std::lock_guard lock(mutex_);
        if (offset > static_cast<std::int64_t>(bytes_.size()))
            bytes_.resize(offset);
        if (offset + data.size() > bytes_.size())
            bytes_.resize(offset + data.size());
        std::copy(data.begin(), data.end(), bytes_.begin() + offset);
        if (offset <= next_)
            next_ = std::max<std::int64_t>(next_, offset + data.size());
    }
    void completed(const std::optional<platform::Error>& error) override {
        std::lock_guard lock(mutex_);
        ++completions_;
        lastError_ = error;
    }
    void failed(const platform::Error& error) override {
        std::lock_guard lock(mutex_);
        failure_ = error;
    }

    platform::Data bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::optional<std::int64_t> reportedSize() const {
        std::lock_guard lock(mutex_);
        return size_;
    }
    int completions() const {
        std::lock_guard lock(mutex_);
        return completions_;
    }
    std::optional<platform::Error> lastError() const {
        std::lock_guard lock(mutex_);
        return lastError_;
    }
    std::optional<platform::Error> failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

  private:
    const std::string id_;
    const PNByteRange range_;
    mutable std::mutex mutex_;
    platform::Data bytes_;                      // guarded by mutex_
    std::int64_t next_;                         // guarded by mutex_
    std::optional<std::int64_t> size_;          // guarded by mutex_
    int completions_ = 0;                       // guarded by mutex_
    std::optional<platform::Error> lastError_;  // guarded by mutex_
    std::optional<platform::Error> failure_;    // guarded by mutex_
};

// What the player would take from its loading requests: the bytes answered, in order, and
// how each request ended.
class CollectingReceiver : public platform::AssetResourceLoadingRequest::Receiver {
  public:
    void requestDidRespond(const platform::AssetResourceLoadingRequestPtr&, std::int64_t,
                           std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex);
        collected.insert(collected.end(), bytes.begin(), bytes.end());
    }
    void requestDidFinish(const platform::AssetResourceLoadingRequestPtr&,
                          const std::optional<platform::Error>&) override {}
    std::mutex mutex;
    platform::Data collected;  // guarded by mutex
};

// A read whose first range() call, made on the request's queue when the read is added,
// holds that queue until the test opens the gate.
class QueueHoldingListener : public RecordingListener {
  public:
    using RecordingListener::RecordingListener;
    PNByteRange range() const override {
        if (armed_.exchange(false)) {
            held.set(true);
            gate.wait();
        }
        return RecordingListener::range();
    }
    mutable Outcome<bool> held;
    mutable Gate gate;

  private:
    mutable std::atomic<bool> armed_{true};
};

class CountingLoader : public PNVideoLoaderRequestDelegate {
  public:
    void enqueu() override { ++ends; }
    void log(const std::string& line) override {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    }
    bool logged(const std::string& text) {
        std::lock_guard lock(mutex);
        for (const auto& line : lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::atomic<int> ends{0};
    std::mutex mutex;
    std::vector<std::string> lines;  // guarded by mutex
};

// Holds the cache's first write of a media file between writing its bytes aside and putting
// them in place, until the test opens the gate.
class HeldMediaWrite {
  public:
    platform::FileManager::Options files() {
        platform::FileManager::Options options;
        options.beforeAtomicRename = [this](const std::string& temporary) -> platform::Status {
            if (temporary.find(".mp4.") != std::string::npos && first_.exchange(false)) {
                held_.set(true);
                gate_.wait();
            }
            return std::nullopt;
        };
        return options;
    }

    // Waits for the write to be held, cancels on a thread of its own meanwhile, and returns
    // the bytes on disk right after the cancel returned. A cancel that does not wait for the
    // held write returns within the grace below, before the write lands; one that waits
    // returns only once the gate is open.
    std::uintmax_t cancelWhileHeld(const std::function<void()>& cancel,
                                   const std::function<std::uintmax_t()>& bytesOnDisk) {
        constexpr auto graceForAnEarlyReturn = std::chrono::milliseconds(300);
        if (!held_.wait())
            return 0;
        std::promise<std::uintmax_t> onReturn;
        std::future<std::uintmax_t> returned = onReturn.get_future();
        std::thread canceller([&] {
            cancel();
            onReturn.set_value(bytesOnDisk());
        });
        returned.wait_for(graceForAnEarlyReturn);
        EXPECT_TRUE(gate_.open());
        canceller.join();
        return returned.get();
    }

  private:
    std::atomic<bool> first_{true};
    Outcome<bool> held_;
    Gate gate_;
};

class PlayerCacheFixture : public EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        folder_ = pindle::testing::makeScratchFolder("player-cache-");
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(documents());
    }
    void TearDown() override {
        EmulatorFixture::TearDown();
        // A download the test left running may still hand the cache a chunk on the session's
        // thread, and the cache may be renaming its sizes file into the folder meanwhile.
        // What is left over goes with the process folder.
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string documents() const { return (folder_ / "Documents").string(); }
    std::shared_ptr<PNPlayerCache> makeCache(
        platform::FileManager::Options files = {},
        std::function<platform::ImagePtr(const platform::URL&)> thumbnailOfVideo = {}) {
        PNPlayerCache::Options options;
        options.documentsDirectory = documents();
        options.files = std::move(files);
        options.thumbnailOfVideo = std::move(thumbnailOfVideo);
        return PNPlayerCache::make(std::move(options));
    }
    // The size of the cache's file for `url`, read without the cache's lock, which a held
    // write keeps.
    static std::uintmax_t bytesOnDisk(const PNPlayerCache& cache, const platform::URL& url) {
        std::error_code missing;
        const std::uintmax_t size = std::filesystem::file_size(*cache.cacheFilePath(url), missing);
        return missing ? 0 : size;
    }

    // A video whose three renditions are the same address, so that the throughput's choice
    // does not matter to the bytes.
    static PNVideoPtr videoAt(const platform::URL& url, const std::string& id = "video") {
        PNVideo::Fields fields;
        fields.videoID = id;
        fields.mediaMP4URL720p = url;
        fields.mediaMP4URL540p = url;
        fields.mediaMP4URL360p = url;
        return PNVideo::make(std::move(fields));
    }

    platform::URL serve(const std::string& path, std::string bytes) {
        emulator_.server().media().add(path, std::move(bytes));
        return *platform::URL::fromString(emulator_.baseURL() + path);
    }

    // The "Range" headers of the GETs of `path`, in order.
    std::vector<std::string> rangesAsked(const std::string& path) {
        std::vector<std::string> ranges;
        for (const auto& request : emulator_.server().requestLog().requestsFor("GET", path))
            ranges.push_back(request.header("Range").value_or("none"));
        return ranges;
    }

    static std::string bytesOfSize(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 251);
        return bytes;
    }

    std::filesystem::path folder_;
};

}  // namespace pindle::testing
