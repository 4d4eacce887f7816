#include "player/remote_commands.h"

#include "player/player_sim.h"
#include "transport/protocol.h"

#include <QList>

#include <algorithm>

namespace sim {

namespace {

QByteArray defaultQrDocument()
{
    return QByteArray(
        "{\n\t\"QRCircleTime\" : 10,\n\t\"QRImageEnable\" : true,\n\t\"QRLocation\" : \n\t[\n"
        "\t\t{\n\t\t\t\"QRShow\" : 1,\n\t\t\t\"height\" : 320,\n\t\t\t\"screenID\" : 0,\n\t\t\t\"startX\" : 0,\n"
        "\t\t\t\"startY\" : 0,\n\t\t\t\"textColor\" : 16777215,\n\t\t\t\"textShow\" : 1,\n\t\t\t\"textSize\" : 60,\n"
        "\t\t\t\"width\" : 320\n\t\t},\n"
        "\t\t{\n\t\t\t\"QRShow\" : 0,\n\t\t\t\"height\" : 320,\n\t\t\t\"screenID\" : 1,\n\t\t\t\"startX\" : 0,\n"
        "\t\t\t\"startY\" : 0,\n\t\t\t\"textColor\" : 16777215,\n\t\t\t\"textShow\" : 0,\n\t\t\t\"textSize\" : 60,\n"
        "\t\t\t\"width\" : 320\n\t\t}\n\t],\n\t\"QRRefresh\" : 1,\n\t\"QRShowTime\" : 60\n}");
}

Reply echo(const Request& req)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    r.header.arg = req.header.arg;
    return r;
}

std::vector<Reply> videoControl(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    RemoteState& s = remoteState(sim);
    s.commands.push_back({req.header.param, ownBytes(req.payload)});
    Reply r = echo(req);
    if (req.header.param == 10) {
        s.position = s.duration > 0 ? (s.position + 1) % (s.duration + 1) : 0;
        r.payload = "{\"cmdId\":10,\"data\":{\"currentPosition\":" + QByteArray::number(s.position) +
                    ",\"totalDuration\":" + QByteArray::number(s.duration) + ",\"typeName\":\"" + s.typeName +
                    "\",\"videoName\":\"" + s.videoName + "\"}}";
    }
    return {r};
}

std::vector<Reply> qrCode(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    RemoteState& s = remoteState(sim);
    Reply r = echo(req);
    if (req.header.param == 0) {
        if (!req.payload.isEmpty())
            s.qrDocument = ownBytes(req.payload);
        r.payload = ownBytes(s.qrDocument);
    } else if (req.header.param == 1) {
        r.payload = ownBytes(s.qrPicture);
    }
    return {r};
}

std::vector<Reply> galleryChange(PlayerSim& sim, const Request& req)
{
    std::lock_guard lock(sim.stateMutex());
    RemoteState& s = remoteState(sim);
    s.galleryChanges.push_back({req.header.param, req.header.arg, ownBytes(req.payload)});
    const QList<QByteArray> parts = req.payload.split(':');
    switch (req.header.param) {
    case 0:
        s.gallery[ownBytes(req.payload)];
        break;
    case 1:
        s.gallery.erase(req.payload);
        break;
    case 2:
        if (req.header.arg == 0) {
            s.uploadName = ownBytes(req.payload);
            s.uploadData = QByteArray();
        } else {
            appendOwn(s.uploadData, req.payload);
            if (req.header.arg == 2) {
                const qsizetype colon = s.uploadName.indexOf(':');
                if (colon > 0) {
                    s.gallery[s.uploadName.left(colon)].push_back(s.uploadName.mid(colon + 1));
                    s.pictureData[ownBytes(s.uploadName)] = ownBytes(s.uploadData);
                }
            }
        }
        break;
    case 3: {
        auto it = s.gallery.find(parts.value(0));
        if (it != s.gallery.end())
            for (qsizetype i = 1; i < parts.size(); ++i)
                it->second.erase(std::remove(it->second.begin(), it->second.end(), parts[i]), it->second.end());
        break;
    }
    default:
        break;
    }
    return {echo(req)};
}

}  // namespace

RemoteState& remoteState(PlayerSim& sim)
{
    auto& slot = sim.state().remote;
    if (!slot)
        slot = std::make_shared<RemoteState>();
    return *slot;
}

void installRemoteCommands(PlayerSim& sim)
{
    {
        std::lock_guard lock(sim.stateMutex());
        sim.state().remote = std::make_shared<RemoteState>();
        sim.state().remote->qrDocument = defaultQrDocument();
    }
    sim.registerCommand(proto::CMD_VIDEO_CONTROL, videoControl);
    sim.registerCommand(proto::CMD_QRCODE, qrCode);
    sim.registerCommand(proto::CMD_GALLERY, galleryChange);
}

}  // namespace sim
