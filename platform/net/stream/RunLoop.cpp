#include "platform/net/stream/RunLoop.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

namespace pindle::platform {

RunLoop::RunLoop() : wakeFD_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

RunLoop::~RunLoop() {
    if (wakeFD_ >= 0)
        ::close(wakeFD_);
}

void RunLoop::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFD_, &one, sizeof one);
}

void RunLoop::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake();
}

void RunLoop::perform(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    wake();
}

RunLoop::SourceID RunLoop::addSource(int fd, short events, Handler handler) {
    SourceID id;
    {
        std::lock_guard lock(mutex_);
        id = nextSource_++;
        sources_.emplace(id, Source{fd, events, std::move(handler)});
    }
    wake();
    return id;
}

void RunLoop::updateSource(SourceID source, short events) {
    {
        std::lock_guard lock(mutex_);
        auto found = sources_.find(source);
        if (found == sources_.end() || found->second.events == events)
            return;
        found->second.events = events;
    }
    wake();
}

void RunLoop::removeSource(SourceID source) {
    {
        std::lock_guard lock(mutex_);
        sources_.erase(source);
    }
    wake();
}

void RunLoop::run() {
    std::vector<pollfd> fds;
    std::vector<SourceID> ids;
    for (;;) {
        std::deque<std::function<void()>> work;
        fds.clear();
        ids.clear();
        {
            std::lock_guard lock(mutex_);
            if (stopped_)
                return;
            work.swap(work_);
            fds.push_back({wakeFD_, POLLIN, 0});
            for (const auto& [id, source] : sources_) {
                // A source with no interest is left out, so a lingering hang-up cannot spin the
                // loop.
                fds.push_back({source.events != 0 ? source.fd : -1, source.events, 0});
                ids.push_back(id);
            }
        }
        for (auto& block : work) block();
        if (!work.empty())
            continue;  // the blocks may have changed the sources

        int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] auto got = ::read(wakeFD_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            Handler handler;
            {
                std::lock_guard lock(mutex_);
                auto found = sources_.find(ids[i - 1]);
                if (found == sources_.end())
                    continue;
                handler = found->second.handler;
            }
            handler(fds[i].revents);
        }
    }
}

}  // namespace pindle::platform
