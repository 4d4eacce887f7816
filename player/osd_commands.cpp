#include "player/osd_commands.h"

#include <map>
#include <memory>
#include <mutex>

namespace sim {

namespace {

std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}
std::map<const PlayerSim*, std::shared_ptr<OsdState>>& registry()
{
    static std::map<const PlayerSim*, std::shared_ptr<OsdState>> states;
    return states;
}

constexpr uint16_t kOsdKind = 4;

}  // namespace

OsdState* osdState(PlayerSim& sim)
{
    std::lock_guard<std::mutex> lk(registryMutex());
    const auto it = registry().find(&sim);
    return it != registry().end() ? it->second.get() : nullptr;
}

void installOsdCommands(PlayerSim& sim)
{
    auto state = std::make_shared<OsdState>();
    {
        std::lock_guard<std::mutex> lk(registryMutex());
        registry()[&sim] = state;
    }
    const CommandHandler otherKinds = sim.commandHandler(proto::CMD_PARAM_FILE);
    sim.registerCommand(proto::CMD_PARAM_FILE, [state, otherKinds](PlayerSim& s, const Request& req) {
        if (req.header.param != kOsdKind)
            return otherKinds ? otherKinds(s, req) : std::vector<Reply>{};
        Reply r;
        r.header.command = req.header.command;
        r.header.subCode = req.header.subCode;
        r.header.param = req.header.param;
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if (!req.payload.isEmpty()) {
            state->document = ownBytes(req.payload);
            ++state->stores;
            r.header.arg = 1;
        } else {
            ++state->fetches;
            r.payload = ownBytes(state->document);
        }
        return std::vector<Reply>{r};
    });
}

}  // namespace sim
