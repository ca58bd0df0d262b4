// SecureRandom: bytes from the cryptographically secure generator, for nonces and masking
// keys.
//
// Thread-safety: call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/foundation/Data.hpp"

namespace pindle::platform {

class SecureRandom {
  public:
    // Fills `length` bytes at `bytes`. Returns false when the generator could not deliver;
    // the buffer is then left zeroed rather than half-filled.
    static bool fill(std::uint8_t* bytes, std::size_t length);
    // `length` fresh bytes; nothing when the generator could not deliver.
    static std::optional<Data> bytes(std::size_t length);

    // While set, every request fails as a broken generator would: for tests of the callers'
    // failure paths.
    static void setSimulatesFailure(bool fails);
};

}  // namespace pindle::platform
