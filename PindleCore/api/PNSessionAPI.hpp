// PNSessionAPI: the backend's "sessions" resource.
//
// session(identity:) posts {"identity": ...} with the "Authorization" header of the current
// token mode and hands the reply object on. A failure prints "Pindle Session error
// encountered:", the error's description and its user info to standard output, then completes
// with an empty dictionary and the error. A reply that is not a JSON object completes with an
// empty dictionary and PNError unknown.
//
// The completion runs once, on the requester's reply thread.
//
// Thread-safety: stateless; any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNSessionAPI {
  public:
    using Completion = std::function<void(const platform::Dictionary& reply,
                                          const std::optional<platform::Error>& error)>;

    static PNSessionAPI& shared();

    PNSessionAPI(const PNSessionAPI&) = delete;
    PNSessionAPI& operator=(const PNSessionAPI&) = delete;

    // REQUIRES: completion is callable.
    PNCancellablePtr session(const std::string& identity, Completion completion);

  private:
    PNSessionAPI() = default;
};

}  // namespace pindle
