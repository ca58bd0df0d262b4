// CryptoLibrary: sets up the TLS and crypto library once per process, so that it is never
// torn down while the process exits.
//
// By default the library frees its global state from an exit handler. Blocks still running
// on worker threads at exit (a socket writing its last frame, a masking key being drawn)
// would then use freed state and crash the exiting process. The platform library therefore
// initialises it at load time without that exit handler; the operating system reclaims the
// memory. prepare() is idempotent and also runs before first use from any facility.
//
// Thread-safety: prepare() may be called from any thread.
#pragma once

namespace pindle::platform {

class CryptoLibrary {
  public:
    static void prepare();
};

}  // namespace pindle::platform
