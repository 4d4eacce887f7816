#include "player/calibration_commands.h"

namespace sim {

namespace {

std::mutex registryMutex;
std::map<const PlayerSim*, std::weak_ptr<CalibrationPlayer>>& registry()
{
    static std::map<const PlayerSim*, std::weak_ptr<CalibrationPlayer>> table;
    return table;
}

}  // namespace

std::vector<CalibrationPlayer::Seen> CalibrationPlayer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool CalibrationPlayer::inAdjustment() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return inAdjustment_;
}

int CalibrationPlayer::adjustEnters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return enters_;
}

int CalibrationPlayer::adjustLeaves() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return leaves_;
}

QByteArray CalibrationPlayer::lastPayload(uint8_t command, uint8_t subCode) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = payloads_.find(command * 256 + subCode);
    return it == payloads_.end() ? QByteArray() : ownBytes(it->second);
}

void CalibrationPlayer::setSilent(uint8_t command, bool silent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    silent_[command] = silent;
}

std::vector<Reply> CalibrationPlayer::handle(const Request& request)
{
    const proto::PlayerPacketHeader& h = request.header;
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({h.command, h.subCode, h.param, h.arg, h.sequence, int(request.payload.size())});
    payloads_[h.command * 256 + h.subCode] = ownBytes(request.payload);
    if (h.command == proto::CMD_ADJUST_MODE && h.subCode == 0) {
        inAdjustment_ = true;
        ++enters_;
    } else if (h.command == proto::CMD_ADJUST_MODE && h.subCode == 1) {
        inAdjustment_ = false;
        ++leaves_;
    }
    if (silent_[h.command])
        return {};
    Reply r;
    r.header.command = h.command;
    r.header.subCode = h.subCode;
    r.header.sequence = h.sequence;
    return {r};
}

void installCalibrationCommands(PlayerSim& sim)
{
    auto player = std::make_shared<CalibrationPlayer>();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[&sim] = player;
    }
    for (uint8_t code : {proto::CMD_CHANNEL_MAP_DATA, proto::CMD_VIDEO_CHANNEL_SETUP, proto::CMD_ADJUST_MODE,
                         proto::CMD_BLEND_SWITCH, proto::CMD_WARP_POINTS})
        sim.registerCommand(code, [player](PlayerSim&, const Request& request) { return player->handle(request); });
}

std::shared_ptr<CalibrationPlayer> calibrationPlayerOf(const PlayerSim& sim)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(&sim);
    return it == registry().end() ? nullptr : it->second.lock();
}

}  // namespace sim
