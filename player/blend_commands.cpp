#include "player/blend_commands.h"

#include "player/companion_commands.h"

namespace sim {

namespace {

std::mutex registryMutex;
std::map<const PlayerSim*, std::weak_ptr<BlendPlayer>>& registry()
{
    static std::map<const PlayerSim*, std::weak_ptr<BlendPlayer>> table;
    return table;
}

QByteArray timingRecord(std::array<uint16_t, 9> values)
{
    QByteArray out(18, '\0');
    for (std::size_t i = 0; i < values.size(); ++i)
        proto::putU16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, values[i]);
    return out;
}

}  // namespace

BlendPlayer::BlendPlayer()
{
    // A player that starts at 1920x1080@60Hz on both outputs.
    state_.timings[0] = timingRecord({60, 2200, 1125, 44, 5, 192, 1920, 41, 1080});
    state_.timings[1] = state_.timings[0];
}

std::vector<Reply> BlendPlayer::handle(const Request& request)
{
    Reply r;
    r.header.command = request.header.command;
    r.header.subCode = request.header.subCode;
    std::lock_guard<std::mutex> lock(mutex_);
    switch (request.header.command) {
    case proto::CMD_PROJECTOR_DATA:
        state_.projectorDataSubCodes.push_back(request.header.subCode);
        if (request.header.subCode == 0x20)
            state_.testPatterns.push_back(ownBytes(request.payload));
        else if (request.header.subCode >= 0x40)
            state_.rampFiles[request.header.subCode] = ownBytes(request.payload);
        if (state_.silentProjectorData > 0) {
            --state_.silentProjectorData;
            return {};
        }
        return {r};
    case proto::CMD_OUTPUT_RESOLUTION: {
        const uint8_t output = request.header.subCode;
        if (output > 1 || request.payload.size() != 16) {
            r.header.command = uint8_t(request.header.command | proto::kNotSupportedBit);
            return {r};
        }
        state_.timingSets.push_back({output, request.header.param, ownBytes(request.payload)});
        QByteArray record(2, '\0');
        proto::putU16(reinterpret_cast<uint8_t*>(record.data()), request.header.param);
        appendOwn(record, request.payload);
        state_.timings[output] = std::move(record);
        return {r};
    }
    case proto::CMD_OUTPUT_MODE:
        if (request.header.subCode > 1) {
            r.header.command = uint8_t(request.header.command | proto::kNotSupportedBit);
            return {r};
        }
        r.payload = ownBytes(state_.timings[request.header.subCode]);
        return {r};
    default:
        return {};
    }
}

void installBlendCommands(PlayerSim& sim)
{
    auto player = std::make_shared<BlendPlayer>();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[&sim] = player;
    }
    for (uint8_t code : {proto::CMD_PROJECTOR_DATA, proto::CMD_OUTPUT_RESOLUTION, proto::CMD_OUTPUT_MODE})
        sim.registerCommand(code, [player](PlayerSim&, const Request& request) { return player->handle(request); });
    sim.registerCommand(proto::CMD_CASCADE_SET, [](PlayerSim& s, const Request& request) {
        Reply r;
        r.header.command = request.header.command;
        r.header.subCode = request.header.subCode;
        const int count = request.header.param;
        if (request.payload.size() != 4 * count || count > 20) {
            r.header.command = uint8_t(request.header.command | proto::kNotSupportedBit);
            return std::vector<Reply>{r};
        }
        std::lock_guard<std::mutex> lock(s.stateMutex());
        CompanionState* cascade = companionState(s);
        if (cascade) {
            cascade->cascadeMode = request.header.subCode;
            cascade->cascadeAddresses.clear();
            for (int i = 0; i < count; ++i) {
                std::array<uint8_t, 4> a{};
                for (int k = 0; k < 4; ++k)
                    a[std::size_t(k)] = uint8_t(request.payload[4 * i + k]);
                cascade->cascadeAddresses.push_back(a);
            }
        }
        return std::vector<Reply>{r};
    });
}

std::shared_ptr<BlendPlayer> blendPlayerOf(const PlayerSim& sim)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(&sim);
    return it == registry().end() ? nullptr : it->second.lock();
}

}  // namespace sim
