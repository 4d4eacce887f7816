#include "player/device_commands.h"

#include <map>
#include <mutex>

#include <algorithm>

namespace sim {

namespace {

constexpr int kPowerTimerSize = 15;
constexpr int kUsartMax = 1023;

Reply replyTo(const Request& req)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.sequence = req.header.sequence;
    return r;
}

Reply notSupported(const Request& req)
{
    Reply r = replyTo(req);
    r.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
    return r;
}

std::vector<Reply> one(Reply r)
{
    std::vector<Reply> v;
    v.push_back(std::move(r));
    return v;
}

}  // namespace

namespace {

std::mutex storesMutex;
std::map<const PlayerSim*, std::weak_ptr<DeviceStore>>& stores()
{
    static std::map<const PlayerSim*, std::weak_ptr<DeviceStore>> table;
    return table;
}

}  // namespace

std::shared_ptr<DeviceStore> deviceStore(const PlayerSim& sim)
{
    std::lock_guard<std::mutex> lock(storesMutex);
    auto it = stores().find(&sim);
    return it == stores().end() ? nullptr : it->second.lock();
}

std::shared_ptr<DeviceStore> installDeviceCommands(PlayerSim& sim)
{
    auto store = std::make_shared<DeviceStore>();
    {
        std::lock_guard<std::mutex> lock(storesMutex);
        stores()[&sim] = store;
    }

    // u16 at 10 = 1: the timer (u16 at 8 = 3; a payload sets it, none asks
    // it); otherwise u16 at 8 switches the player on (1) or off (0).
    sim.registerCommand(proto::CMD_POWER, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        Reply r = replyTo(req);
        if (req.header.arg == 1) {
            r.header.arg = 1;
            if (req.payload.isEmpty()) {
                r.header.param = 3;
                r.payload = ownBytes(store->powerTimer);
            } else if (req.payload.size() == kPowerTimerSize) {
                store->powerTimer = ownBytes(req.payload);
            } else {
                return one(notSupported(req));
            }
            return one(r);
        }
        if (req.header.param > 1)
            return one(notSupported(req));
        store->powerOn = req.header.param == 1;
        r.header.param = req.header.param;
        return one(r);
    });

    // The standard answer, then a small swing around the values that tests
    // set, so that a chart has something to show.
    sim.registerCommand(proto::CMD_TEMPERATURE, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        auto& t = s.state().temperatures;
        Reply r = replyTo(req);
        r.header.param = t[0];
        r.header.arg = uint16_t(t[2] | (uint16_t(t[1]) << 8));
        if (store->driftTemperatures) {
            static constexpr int kSwing[] = {1, 1, -1, -1};
            const int step = kSwing[store->temperatureTick++ % 4];
            for (auto& value : t)
                value = uint8_t(std::clamp(int(value) + step, 0, 255));
        }
        return one(r);
    });

    sim.registerCommand(proto::CMD_USART_DATA, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        Reply r = replyTo(req);
        if (!store->usartQueue.empty()) {
            r.payload = ownBytes(store->usartQueue.front().left(kUsartMax));
            store->usartQueue.pop_front();
        }
        return one(r);
    });

    sim.registerCommand(proto::CMD_PROTOCOL_FILE, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if (req.header.subCode > 2 || req.payload.isEmpty())
            return one(notSupported(req));
        store->protocolFiles[req.header.subCode] = ownBytes(req.payload);
        store->protocolIndex[req.header.subCode] = req.header.param;
        return one(replyTo(req));
    });

    // u16 at 8: 0 the name message, 1 a chunk, 2 the last chunk. Every reply
    // carries the request's counter back at 6.
    sim.registerCommand(proto::CMD_PROGRAM_UPGRADE, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if (req.header.subCode > 1)
            return one(notSupported(req));
        DeviceStore::Upgrade& u = store->upgrades[req.header.subCode];
        Reply r = replyTo(req);
        r.header.param = req.header.param;
        u.lastSequence = req.header.sequence;
        switch (req.header.param) {
        case 0:
            u = DeviceStore::Upgrade();
            u.name = ownBytes(req.payload);
            u.lastSequence = req.header.sequence;
            r.header.arg = (!store->installedNames[req.header.subCode].isEmpty() &&
                            store->installedNames[req.header.subCode] == req.payload)
                               ? 1
                               : 0;
            return one(r);
        case 1:
        case 2:
            if (u.name.isEmpty() || u.complete)
                return one(notSupported(req));
            appendOwn(u.data, req.payload);
            ++u.chunks;
            u.complete = req.header.param == 2;
            if (u.complete)
                store->installedNames[req.header.subCode] = ownBytes(u.name);
            return one(r);
        default:
            return one(notSupported(req));
        }
    });

    // Sub-code 128: a live update; 64: the same with the save flag. The
    // reply carries the sub-code back.
    sim.registerCommand(proto::CMD_VIDEO_PIC_WINDOW, [store](PlayerSim& s, const Request& req) {
        std::lock_guard<std::mutex> lk(s.stateMutex());
        if ((req.header.subCode != 128 && req.header.subCode != 64) || req.payload.size() != 28)
            return one(notSupported(req));
        store->videoPicWindow = ownBytes(req.payload);
        store->videoPicBackground = req.header.param;
        if (req.header.subCode == 64)
            ++store->videoPicSaves;
        else
            ++store->videoPicUpdates;
        return one(replyTo(req));
    });

    return store;
}

}  // namespace sim
