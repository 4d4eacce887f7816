#include "player/companion_remote.h"

#include "player/player_sim.h"
#include "transport/protocol.h"

namespace sim {

namespace {
constexpr uint16_t kCapabilityQuery = 3;
}

QByteArray defaultCapabilityReply()
{
    return QByteArray(
        "{\"cmdId\":3,\"data\":["
        "{\"playMode\":\"Repeat one\",\"type\":2},{\"playMode\":\"Pause\",\"type\":3},"
        "{\"playMode\":\"Play\",\"type\":4},{\"playMode\":\"Play one\",\"type\":5},"
        "{\"playMode\":\"Power on\",\"type\":6},{\"playMode\":\"Power off\",\"type\":7},"
        "{\"playMode\":\"Loop type\",\"type\":8},{\"playMode\":\"Shuffle type\",\"type\":9},"
        "{\"playMode\":\"Shuffle all\",\"type\":10},{\"playMode\":\"Previous\",\"type\":11},"
        "{\"playMode\":\"Next\",\"type\":12}]}");
}

CapabilityState& capabilityState(PlayerSim& sim)
{
    auto& slot = sim.state().capabilities;
    if (!slot)
        slot = std::make_shared<CapabilityState>();
    return *slot;
}

void installCompanionRemote(PlayerSim& sim)
{
    {
        std::lock_guard lock(sim.stateMutex());
        capabilityState(sim).reply = defaultCapabilityReply();
    }
    const CommandHandler others = sim.commandHandler(proto::CMD_VIDEO_CONTROL);
    sim.registerCommand(proto::CMD_VIDEO_CONTROL, [others](PlayerSim& s, const Request& req) {
        // The handler before logs the command and echoes the header.
        std::vector<Reply> replies = others ? others(s, req) : std::vector<Reply>{};
        if (req.header.param != kCapabilityQuery)
            return replies;
        std::lock_guard lock(s.stateMutex());
        CapabilityState& state = capabilityState(s);
        ++state.queries;
        for (Reply& r : replies)
            r.payload = ownBytes(state.reply);
        return replies;
    });
}

}  // namespace sim
