// PNPendingChangeProtocol: a change record carried without its concrete type: which record
// it belongs to, and its dictionary form. PNPendingChange is the one kind there is.
//
// Thread-safety: a plain value; no synchronisation of its own.
#pragma once

#include <string>

#include "platform/foundation/Value.hpp"

namespace pindle {

class PNPendingChangeProtocol {
  public:
    virtual ~PNPendingChangeProtocol() = default;

    virtual const std::string& entityID() const = 0;
    virtual void setEntityID(std::string entityID) = 0;
    virtual const std::string& className() const = 0;
    virtual void setClassName(std::string className) = 0;
    // The change as a dictionary of plain values, as the pending changes file holds it.
    virtual platform::Dictionary encode() const = 0;
};

}  // namespace pindle
