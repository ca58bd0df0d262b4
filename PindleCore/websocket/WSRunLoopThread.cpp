#include "PindleCore/websocket/WSRunLoopThread.hpp"

#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

struct WSRunLoopThread::State {
    std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>();
    std::mutex mutex;
    std::condition_variable started;
    bool running = false;  // guarded by mutex
    std::thread thread;
};

WSRunLoopThread::WSRunLoopThread() : state_(std::make_shared<State>()) {
    auto state = state_;
    state->thread = std::thread([state] {
        // Linux limits thread names to 15 characters.
        pthread_setname_np(pthread_self(), "WebSocket.Net");
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
