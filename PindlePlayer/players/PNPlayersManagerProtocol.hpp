// PNPlayersManagerProtocol: what the players manager tells the host. Both methods are
// optional: the defaults do nothing, and implements() tells the manager which ones a delegate
// implements. The manager holds its delegate weakly.
//
// Thread-safety: pnPlayersManagerNewPlayerCreated arrives on the main queue, where players
// are made; the manager never sends pnPlayersManagerVideoPreloaded.
#pragma once

#include <memory>
#include <string>

namespace pindle {

class PNPlayersManager;
class PNPlayerViewController;

class PNPlayersManagerProtocol {
  public:
    // One per optional method, named after it less its `pnPlayersManager` prefix, in
    // declaration order.
    enum class Method {
        newPlayerCreated,
        videoPreloaded,
    };

    virtual ~PNPlayersManagerProtocol() = default;

    // Whether the delegate implements `method`; all of them by default. A delegate that
    // answers false for a method never receives it.
    virtual bool implements(Method /*method*/) const { return true; }

    virtual void pnPlayersManagerNewPlayerCreated(
        PNPlayersManager& /*manager*/, const std::shared_ptr<PNPlayerViewController>& /*player*/) {}
    virtual void pnPlayersManagerVideoPreloaded(PNPlayersManager& /*manager*/,
                                                const std::string& /*videoId*/) {}
};

}  // namespace pindle
