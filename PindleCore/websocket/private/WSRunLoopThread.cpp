#include "PindleCore/websocket/private/WSRunLoopThread.hpp"

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/dispatch/Thread.hpp"
#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

namespace {

// What the system keeps of the name (15 bytes), and what log lines show.
constexpr const char* systemThreadName = "WebSocket.Net";

}  // namespace

struct WSRunLoopThread::State {
    std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>();
    std::mutex mutex;
    std::condition_variable started;
    bool running = false;  // guarded by mutex
    platform::Thread thread;
};

WSRunLoopThread::WSRunLoopThread() : state_(std::make_shared<State>()) {
    auto state = state_;
    state->thread = platform::Thread(systemThreadName, [state] {
        {
            std::lock_guard lock(state->mutex);
            state->running = true;
        }
        state->started.notify_all();
        state->loop->run();
    });
}

WSRunLoopThread& WSRunLoopThread::sharedThread() {
    static WSRunLoopThread* shared = [] {
        platform::SocketStream::prepareTLSLibrary();
        auto* thread = new WSRunLoopThread;
        std::atexit([] {
            auto& state = *WSRunLoopThread::sharedThread().state_;
            state.loop->stop();
            if (state.thread.joinable())
                state.thread.join();
        });
        return thread;
    }();
    return *shared;
}

std::shared_ptr<platform::RunLoop> WSRunLoopThread::runLoop() {
    std::unique_lock lock(state_->mutex);
    state_->started.wait(lock, [&] { return state_->running; });
    return state_->loop;
}

std::shared_ptr<platform::RunLoop> WSNetworkRunLoop() {
    return WSRunLoopThread::sharedThread().runLoop();
}

}  // namespace pindle
