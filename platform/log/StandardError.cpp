#include "platform/log/StandardError.hpp"

#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

namespace pindle::platform {

namespace {

std::mutex& captureMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

StandardError::Capture* currentCapture = nullptr;  // guarded by captureMutex()

bool writeAll(std::vector<iovec>& vectors) {
    std::size_t first = 0;
    while (first < vectors.size()) {
        ssize_t written = ::writev(STDERR_FILENO, vectors.data() + first,
                                   static_cast<int>(vectors.size() - first));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (first < vectors.size() && left >= vectors[first].iov_len) {
            left -= vectors[first].iov_len;
            ++first;
        }
        if (first < vectors.size()) {
            vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + left;
            vectors[first].iov_len -= left;
        }
    }
    return true;
}

}  // namespace

bool StandardError::writeGathered(std::span<const std::string_view> pieces) {
    {
        std::scoped_lock lock(captureMutex());
        if (currentCapture != nullptr) {
            std::string joined;
            for (auto piece : pieces) {
                joined.append(piece);
            }
            currentCapture->append(std::move(joined));
            return true;
        }
    }
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (auto piece : pieces) {
        if (!piece.empty()) {
            vectors.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
        }
    }
    return writeAll(vectors);
}

StandardError::Capture::Capture() {
    std::scoped_lock lock(captureMutex());
    previous_ = currentCapture;
    currentCapture = this;
}

StandardError::Capture::~Capture() {
    std::scoped_lock lock(captureMutex());
    if (currentCapture == this) {
        currentCapture = previous_;
    }
}

std::vector<std::string> StandardError::Capture::writes() const {
    std::scoped_lock lock(captureMutex());
    return writes_;
}

void StandardError::Capture::append(std::string write) {
    writes_.push_back(std::move(write));
}

}  // namespace pindle::platform
