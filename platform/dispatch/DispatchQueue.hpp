// DispatchQueue: serial and concurrent queues of blocks, the main queue and the global queues.
//
// A serial queue runs one block at a time, in the order they were sent. A concurrent queue
// starts its blocks in order and runs them side by side; a barrier block waits for the
// blocks before it and holds back those after it. Both run on one shared worker pool that
// grows when every worker is busy or blocked, so a block may wait on a semaphore for a block
// queued behind it without starving the process. The global queues are concurrent queues
// labelled as the platform labels them; the main queue is a serial queue bound to the main
// thread (see MainThread.hpp for which thread that is and how it is pumped).
//
// A serial queue holds one pool thread while it has work: that thread runs the queued blocks
// in batches, so a block sent to a queue that is already running costs no wake-up. After
// kBatchLimit blocks in a row it gives its thread back when other work waits for one, so
// one busy queue cannot starve the others. The global queues hand each block straight to
// the pool; they take no barriers (a barrier block there is a plain block) and cannot be
// suspended.
//
// Delays read Clock::current(): with a VirtualClock installed, asyncAfter() work runs only
// when VirtualClock::advance() passes its deadline.
//
// Queues live as long as someone holds them or work is queued on them. Queue-specific
// values let code ask "am I running on that queue?" through getCurrentSpecific().
//
// Thread-safety: every operation may be called from any thread. Blocks run on pool threads
// (the main queue's on the main thread); sync() runs its block on the calling thread, except
// for the main queue, whose blocks always run on the main thread.
#pragma once

#include <any>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/dispatch/DispatchTime.hpp"
#include "platform/dispatch/DispatchWorkItem.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Executor.hpp"

namespace pindle::platform {

class DispatchGroup;

// Quality of service; kept for the labels of the global queues and for callers to state
// intent. The pool does not prioritise.
enum class DispatchQoS { background, utility, defaultQoS, userInitiated, userInteractive };

// A key for queue-specific values. Its identity is the key: give each its own static.
template <class T>
class DispatchSpecificKey {
  public:
    DispatchSpecificKey() = default;
    DispatchSpecificKey(const DispatchSpecificKey&) = delete;
    DispatchSpecificKey& operator=(const DispatchSpecificKey&) = delete;
};

class DispatchQueue : public Executor, public std::enable_shared_from_this<DispatchQueue> {
  public:
    enum class Kind { serial, concurrent };

    // Blocks a serial queue runs before it lets other waiting work have its thread.
    static constexpr int kBatchLimit = 64;

    static std::shared_ptr<DispatchQueue> create(std::string label, Kind kind = Kind::serial,
                                                 DispatchQoS qos = DispatchQoS::defaultQoS);

    // The main queue, labelled "com.apple.main-thread".
    static std::shared_ptr<DispatchQueue> main();
    // The global concurrent queue for `qos`: user-interactive "com.apple.root.high-priority",
    // default and user-initiated "com.apple.root.default-priority", utility
    // "com.apple.root.low-priority", background "com.apple.root.background-priority".
    static std::shared_ptr<DispatchQueue> global(DispatchQoS qos = DispatchQoS::defaultQoS);

    // The label of the queue whose block runs on this thread; empty when none does. Code on
    // the main thread outside any block (the host's, a test's) counts as the main queue's.
    static std::string currentLabel();
    // currentLabel() without a copy. REQUIRES: used only while the calling block runs (the
    // queue may go once it returns).
    static std::string_view currentLabelView();

    ~DispatchQueue() override;
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    DispatchQoS qos() const { return qos_; }
    bool isSerial() const { return kind_ == Kind::serial; }
    bool isMain() const { return role_ == Role::main; }

    void async(std::function<void()> work) override;
    void async(const DispatchWorkItemPtr& item);
    // Enters `group` now and leaves it when `work` has run.
    void async(const std::shared_ptr<DispatchGroup>& group, std::function<void()> work);

    // Runs `work` after `delay` seconds (or at `deadline`) on this queue. A delay of zero or
    // less queues it at once.
    void asyncAfter(TimeInterval delay, std::function<void()> work);
    void asyncAfter(DispatchTime deadline, std::function<void()> work);
    void asyncAfter(TimeInterval delay, const DispatchWorkItemPtr& item);
    void asyncAfter(DispatchTime deadline, const DispatchWorkItemPtr& item);

    // Runs `work` when its turn comes and returns after it has run. On a serial queue the
    // turn comes when every block sent before has run, and later blocks wait for it.
    // REQUIRES: not called from a block running on this serial queue (or on the main thread
    // inside main-queue work for the main queue): that would wait for itself forever, so it
    // aborts the process with a message naming the queue.
    void sync(const std::function<void()>& work);
    // sync() that hands back the block's result.
    template <class F, class R = std::invoke_result_t<F&>>
    requires(!std::is_void_v<R>) R sync(F&& work) {
        std::optional<R> result;
        sync(std::function<void()>([&] { result.emplace(work()); }));
        return std::move(*result);
    }

    // Barrier blocks (concurrent queues): wait for every block sent before, run alone, then
    // let the later ones start. On a serial queue they are plain blocks.
    void asyncBarrier(std::function<void()> work);
    void syncBarrier(const std::function<void()>& work);

    // Suspension holds back blocks not yet started; calls nest, each suspend() needs one
    // resume(). REQUIRES: not the main queue or a global queue; resume() matches a suspend().
    void suspend();
    void resume();

    // Queue-specific values. An empty value removes the key.
    template <class T>
    void setSpecific(const DispatchSpecificKey<T>& key, std::optional<T> value) {
        setSpecificValue(&key, value ? std::any(std::move(*value)) : std::any());
    }
    template <class T>
    std::optional<T> getSpecific(const DispatchSpecificKey<T>& key) const {
        return cast<T>(specificValue(&key));
    }
    // The value for `key` of the queue whose block runs on this thread (the same queue
    // currentLabel() names).
    template <class T>
    static std::optional<T> getCurrentSpecific(const DispatchSpecificKey<T>& key) {
        return cast<T>(currentSpecificValue(&key));
    }

    // Construction goes through create(), main() and global().
    struct Private {
        explicit Private() = default;
    };
    enum class Role { plain, main, global };
    DispatchQueue(Private, std::string label, Kind kind, Role role, DispatchQoS qos);

  private:
    struct Turn;
    struct Item {
        std::function<void()> work;  // empty for a sync() turn
        bool exclusive = false;
        std::shared_ptr<Turn> turn;
    };

    void enqueue(std::function<void()> work, bool barrier);
    void syncOnQueue(const std::function<void()>& work, bool barrier);
    void syncOnMain(const std::function<void()>& work);
    void pump();
    void finished(bool exclusive);
    void runAsCurrent(const std::function<void()>& work);
    void runOnPool(std::function<void()> work);
    void scheduleDrain();
    void drain();
    void takeBatch(int room);
    static void grant(Turn& turn);
    bool canStartLocked(bool exclusive) const;

    void setSpecificValue(const void* key, std::any value);
    std::any specificValue(const void* key) const;
    static std::any currentSpecificValue(const void* key);
    template <class T>
    static std::optional<T> cast(const std::any& value) {
        if (const T* typed = std::any_cast<T>(&value)) {
            return *typed;
        }
        return std::nullopt;
    }

    const std::string label_;
    const Kind kind_;
    const Role role_;
    const DispatchQoS qos_;

    mutable std::mutex mutex_;
    std::deque<Item> waiting_;  // guarded by mutex_
    int running_ = 0;           // guarded by mutex_
    // On a serial queue: a drain owns the queue (queued on the pool or running) or a sync()
    // caller has its turn.
    bool exclusiveRunning_ = false;  // guarded by mutex_
    int turnsWaiting_ = 0;           // guarded by mutex_; sync() turns in waiting_
    // Written under mutex_; a drain reads it between blocks without the lock, so a block
    // that suspends its own queue holds back the rest of the batch.
    std::atomic<int> suspendCount_{0};
    std::map<const void*, std::any> specific_;  // guarded by mutex_
    // The blocks a drain has taken out of waiting_; touched only by the drain that owns the
    // queue (exclusiveRunning_).
    std::deque<Item> batch_;
};

using DispatchQueuePtr = std::shared_ptr<DispatchQueue>;

}  // namespace pindle::platform
