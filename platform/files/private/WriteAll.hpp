// Writing a whole buffer to a file descriptor, across short writes and interrupted calls.
// Safe from any thread; the caller owns the descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pindle::platform {

// False when a write fails (errno tells why); the descriptor's position is then unspecified.
bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count);

}  // namespace pindle::platform
