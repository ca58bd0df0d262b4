// PNPlayersManagerProtocol: what the players manager tells the host. Both methods are
// optional (the defaults do nothing; respondsTo() names the implemented ones by selector).
// The manager holds its delegate weakly.
//
// Thread-safety: pnPlayersManagerNewPlayerCreated arrives on the main queue, where players
// are made; the manager never sends pnPlayersManagerVideoPreloaded.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace pindle {

class PNPlayersManager;
class PNPlayerViewController;

class PNPlayersManagerProtocol {
  public:
    static constexpr std::string_view newPlayerCreatedSelector =
        "pnPlayersManagerNewPlayerCreated::";
    static constexpr std::string_view videoPreloadedSelector = "pnPlayersManagerVideoPreloaded::";

    virtual ~PNPlayersManagerProtocol() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return true; }
    virtual void pnPlayersManagerNewPlayerCreated(
        PNPlayersManager& /*manager*/, const std::shared_ptr<PNPlayerViewController>& /*player*/) {}
    virtual void pnPlayersManagerVideoPreloaded(PNPlayersManager& /*manager*/,
                                                const std::string& /*videoId*/) {}
};

}  // namespace pindle
