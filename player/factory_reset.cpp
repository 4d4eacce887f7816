#include "player/factory_reset.h"

#include "player/player_sim.h"

namespace sim {

void installFactoryReset(PlayerSim& sim)
{
    sim.registerCommand(proto::CMD_FACTORY_RESET, [](PlayerSim&, const Request& req) {
        Reply r;
        r.header.command = req.header.command;
        r.header.subCode = req.header.subCode;
        r.header.sequence = req.header.sequence;
        return std::vector<Reply>{r};
    });
}

}  // namespace sim
