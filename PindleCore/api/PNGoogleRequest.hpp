// PNGoogleRequest: a class of the API with no state and no operations besides creation;
// nothing in the SDK makes one. Streamed storage requests are PNRequester's
// googleDataRequest().
//
// Thread-safety: it holds nothing.
#pragma once

#include "platform/foundation/Object.hpp"

namespace pindle {

class PNGoogleRequest : public platform::Object {
  public:
    PNGoogleRequest() = default;
};

}  // namespace pindle
