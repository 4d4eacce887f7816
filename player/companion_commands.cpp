#include "player/companion_commands.h"

#include <map>
#include <memory>
#include <mutex>

namespace sim {

namespace {

// Per simulator; a simulator made later at the same address gets a fresh
// state when the commands are installed on it.
std::mutex& registryMutex()
{
    static std::mutex m;
    return m;
}
std::map<const PlayerSim*, std::shared_ptr<CompanionState>>& registry()
{
    static std::map<const PlayerSim*, std::shared_ptr<CompanionState>> states;
    return states;
}

Reply replyTo(const Request& req)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    return r;
}

constexpr uint16_t kProtocolDocumentKind = 1;

}  // namespace

CompanionState* companionState(PlayerSim& sim)
{
    std::lock_guard<std::mutex> lk(registryMutex());
    const auto it = registry().find(&sim);
    return it != registry().end() ? it->second.get() : nullptr;
}

void installCompanionCommands(PlayerSim& sim)
{
    auto state = std::make_shared<CompanionState>();
    {
        std::lock_guard<std::mutex> lk(registryMutex());
        registry()[&sim] = state;
    }

    const CommandHandler otherKinds = sim.commandHandler(proto::CMD_PARAM_FILE);
    sim.registerCommand(proto::CMD_PARAM_FILE, [state, otherKinds](PlayerSim& s, const Request& req) {
        if (req.header.param != kProtocolDocumentKind)
            return otherKinds ? otherKinds(s, req) : std::vector<Reply>{};
        Reply r = replyTo(req);
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if (req.header.arg == 1 || !req.payload.isEmpty()) {
            // A store (the setup dialog marks it with 1 at offset 10, the
            // batch page sends the document with 0): kept whole, confirmed
            // with 1 at offset 10 and the restart flag echoed in the sub-code.
            state->protocolDocument = ownBytes(req.payload);
            state->storeSubCodes.push_back(req.header.subCode);
            r.header.arg = 1;
        } else {
            r.payload = ownBytes(state->protocolDocument);
        }
        return std::vector<Reply>{r};
    });

    sim.registerCommand(proto::CMD_CASCADE_QUERY, [state](PlayerSim& s, const Request& req) {
        Reply r = replyTo(req);
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if (!state->cascadeSupported) {
            r.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
            return std::vector<Reply>{r};
        }
        r.header.subCode = state->cascadeMode;
        r.header.param = uint16_t(state->cascadeAddresses.size());
        for (const auto& a : state->cascadeAddresses)
            r.payload.append(reinterpret_cast<const char*>(a.data()), 4);
        return std::vector<Reply>{r};
    });
}

}  // namespace sim
