#include "platform/foundation/StandardOutput.hpp"

#include <unistd.h>

#include <cerrno>

namespace pindle::platform {

namespace {

// Serialises lines process-wide and guards the capture chain. Leaked on purpose: worker
// threads may still log while static destructors run.
std::mutex& outputMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

StandardOutput::Capture* activeCapture = nullptr;  // guarded by outputMutex()

void writeFully(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // nowhere to report a broken standard output
        }
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace

void StandardOutput::writeLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line += '\n';
    std::lock_guard lock(outputMutex());
    if (activeCapture) {
        activeCapture->append(std::move(line));
    } else {
        writeFully(line);
    }
}

StandardOutput::Capture::Capture() {
    std::lock_guard lock(outputMutex());
    previous_ = activeCapture;
    activeCapture = this;
}

StandardOutput::Capture::~Capture() {
    std::lock_guard lock(outputMutex());
    if (activeCapture == this) {
        activeCapture = previous_;
        return;
    }
    // Destroyed out of order: unlink this capture from the chain.
    for (Capture* c = activeCapture; c; c = c->previous_) {
        if (c->previous_ == this) {
            c->previous_ = previous_;
            break;
        }
    }
}

void StandardOutput::Capture::append(std::string write) {
    writes_.push_back(std::move(write));
}

std::vector<std::string> StandardOutput::Capture::writes() const {
    std::lock_guard lock(outputMutex());
    return writes_;
}

std::vector<std::string> StandardOutput::Capture::lines() const {
    std::vector<std::string> result = writes();
    for (std::string& line : result) line.pop_back();
    return result;
}

}  // namespace pindle::platform
