// The simulated player's answers for batch sending (see batch_commands.h).

#include "player/batch_commands.h"

#include "player/player_sim.h"

namespace sim {

void installBatchCommands(PlayerSim& sim)
{
    // The catalogue reply names the act it lists at offset 10.
    const CommandHandler catalogue = sim.commandHandler(proto::CMD_VIDEO_LIST);
    sim.registerCommand(proto::CMD_VIDEO_LIST, [catalogue](PlayerSim& s, const Request& req) {
        std::vector<Reply> replies = catalogue ? catalogue(s, req) : std::vector<Reply>{};
        for (Reply& r : replies)
            r.header.arg = req.header.arg;
        return replies;
    });
}

}  // namespace sim
