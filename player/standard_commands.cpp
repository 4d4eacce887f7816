// The answers every player gives, with the state they keep in PlayerState.

#include "player/player_sim.h"
#include "player/play_mode_commands.h"
#include "player/video_store.h"
#include "player/calibration_commands.h"
#include "player/rotation_commands.h"
#include "player/device_commands.h"
#include "player/factory_reset.h"
#include "player/blend_commands.h"

#include "player/batch_commands.h"
#include "player/companion_commands.h"
#include "player/layout_store.h"
#include "player/interactive_commands.h"
#include "player/remote_commands.h"
#include "player/companion_remote.h"
#include "player/osd_commands.h"

#include "transport/announcement.h"

#include <algorithm>

namespace sim {

namespace {

constexpr int kBuildTextOffset = 6;
constexpr int kBuildTextLength = 19;
constexpr int kHandshakeLongPayload = kBuildTextOffset + kBuildTextLength;  // 25
constexpr int kHandshakeShortPayload = 5;
constexpr int kNetworkRecordSize = 24;
constexpr int kNameFieldSize = int(proto::kNameFieldSize);

Reply replyTo(const Request& req)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    return r;
}

std::vector<Reply> one(Reply r)
{
    std::vector<Reply> v;
    v.push_back(std::move(r));
    return v;
}

Reply notSupported(const Request& req)
{
    Reply r = replyTo(req);
    r.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
    return r;
}

std::vector<Reply> handshake(PlayerSim& sim, const Request& req)
{
    const SimOptions& o = sim.options();
    Reply r = replyTo(req);
    r.header.subCode = o.channelCode;
    r.header.param = o.version;
    r.header.arg = uint16_t((o.android ? 1 : 0) << 8 | o.fpgaVersion);
    if (o.buildText.isEmpty()) {
        r.payload = QByteArray(kHandshakeShortPayload, '\0');
    } else {
        // Bytes 0..5 carry nothing the tool reads; the build text is cut or
        // zero-padded to its 19 characters.
        r.payload = QByteArray(kHandshakeLongPayload, '\0');
        const QByteArray text = o.buildText.toLatin1().left(kBuildTextLength);
        r.payload.replace(kBuildTextOffset, text.size(), text);
    }
    return one(r);
}

QByteArray defaultNetworkRecord(const PlayerSim& sim)
{
    PlayerAnnouncement a;  // for its address and MAC parsers
    a.setIpText(sim.options().address);
    a.setMacText(sim.options().mac);
    QByteArray rec(kNetworkRecordSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(rec.data());
    for (int i = 0; i < 4; ++i) {
        p[i] = a.ip[std::size_t(i)];
        p[4 + i] = i < 3 ? 255 : 0;                         // mask 255.255.255.0
        p[8 + i] = i < 3 ? a.ip[std::size_t(i)] : 1;        // gateway x.y.z.1
        p[12 + i] = p[8 + i];                               // DNS as the gateway
    }
    for (int i = 0; i < 6; ++i)
        p[16 + i] = a.mac[std::size_t(i)];
    proto::putU16(p + 22, sim.tcpPort());
    return rec;
}

std::vector<Reply> networkParameters(PlayerSim& sim, const Request& req)
{
    Reply r = replyTo(req);
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    PlayerState& st = sim.state();
    if (req.payload.isEmpty()) {
        r.payload = st.networkParameters.size() == kNetworkRecordSize ? ownBytes(st.networkParameters)
                                                                      : defaultNetworkRecord(sim);
        return one(r);
    }
    if (req.payload.size() != kNetworkRecordSize)
        return one(notSupported(req));  // a record of another size is not a setting
    // Kept, not applied: the simulator stays on its address and port.
    st.networkParameters = ownBytes(req.payload);
    return one(r);
}

std::vector<Reply> temperature(PlayerSim& sim, const Request& req)
{
    Reply r = replyTo(req);
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    const auto& t = sim.state().temperatures;
    r.header.param = t[0];                              // byte 8
    r.header.arg = uint16_t(t[2] | (uint16_t(t[1]) << 8));  // byte 10, byte 11
    return one(r);
}

std::vector<Reply> status(PlayerSim& sim, const Request& req)
{
    Reply r = replyTo(req);
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    r.payload = ownBytes(sim.state().statusBlock);
    return one(r);
}

std::vector<Reply> productInfo(PlayerSim& sim, const Request& req)
{
    Reply r = replyTo(req);
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    r.payload = ownBytes(sim.state().productInfo);
    return one(r);
}

std::vector<Reply> reboot(PlayerSim& sim, const Request& req)
{
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    ++sim.state().reboots;
    return one(replyTo(req));
}

std::vector<Reply> loadState(PlayerSim& sim, const Request& req)
{
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    sim.state().loadStates.push_back(req.header.param);
    return {};
}

QByteArray nameField(const QByteArray& name)
{
    QByteArray field = name.left(kNameFieldSize);
    field.append(QByteArray(kNameFieldSize - field.size(), '\0'));
    return field;
}

QByteArray nameFromField(const QByteArray& payload)
{
    QByteArray field = payload.left(kNameFieldSize);
    const int zero = field.indexOf('\0');
    return zero >= 0 ? field.left(zero) : field;
}

std::vector<Reply> layout(PlayerSim& sim, const Request& req)
{
    Reply r = replyTo(req);
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    PlayerState& st = sim.state();
    if (st.layoutLocked) {
        r.header.arg = 1;
        return one(r);
    }
    auto find = [&](const QByteArray& name) {
        return std::find_if(st.layouts.begin(), st.layouts.end(), [&](const auto& e) { return e.first == name; });
    };
    switch (req.header.subCode) {
    case 0: {  // list: every name followed by '?', param = index of the current one
        for (const auto& e : st.layouts)
            r.payload += e.first + '?';
        r.header.param = st.layouts.empty() ? 0 : uint16_t(std::clamp(st.currentLayout, 0, int(st.layouts.size()) - 1));
        return one(r);
    }
    case 1: {  // fetch: name field then the file; an unknown name gets nothing
        const auto it = find(req.payload);
        if (it != st.layouts.end())
            r.payload = ownBytes(nameField(it->first) + it->second);
        return one(r);
    }
    case 2:    // upload of the current layout
    case 4: {  // one layout of a batch
        if (req.payload.size() < kNameFieldSize)
            return one(notSupported(req));
        const QByteArray name = nameFromField(req.payload);
        const QByteArray file = req.payload.mid(kNameFieldSize);
        auto it = find(name);
        if (it == st.layouts.end()) {
            st.layouts.emplace_back(ownBytes(name), ownBytes(file));
            it = st.layouts.end() - 1;
        } else {
            it->second = ownBytes(file);
        }
        if (req.header.subCode == 2)
            st.currentLayout = int(it - st.layouts.begin());
        return one(r);
    }
    case 3: {  // delete
        const auto it = find(req.payload);
        if (it != st.layouts.end()) {
            const int index = int(it - st.layouts.begin());
            st.layouts.erase(it);
            if (st.currentLayout >= index && st.currentLayout > 0)
                --st.currentLayout;
        }
        return one(r);
    }
    default:
        return one(notSupported(req));
    }
}

}  // namespace

void installStandardCommands(PlayerSim& sim)
{
    sim.registerCommand(proto::CMD_PLAYER_INFO, handshake);
    sim.registerCommand(proto::CMD_LOAD_STATE, loadState);
    sim.registerCommand(proto::CMD_NETWORK_PARAM, networkParameters);
    sim.registerCommand(proto::CMD_TEMPERATURE, temperature);
    sim.registerCommand(proto::CMD_STATUS, status);
    sim.registerCommand(proto::CMD_PRODUCT_INFO, productInfo);
    sim.registerCommand(proto::CMD_REBOOT, reboot);
    sim.registerCommand(proto::CMD_LAYOUT, layout);
    installVideoStore(sim);
    installPlayModes(sim);
    installRotationCommands(sim);
    installDeviceCommands(sim);
    installCalibrationCommands(sim);
    installFactoryReset(sim);
    installCompanionCommands(sim);
    installBatchCommands(sim);
    installBlendCommands(sim);
    installLayoutStore(sim);
    installInteractiveCommands(sim);
    installRemoteCommands(sim);
    installOsdCommands(sim);
    installCompanionRemote(sim);
}

}  // namespace sim
