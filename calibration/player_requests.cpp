#include "calibration/player_requests.h"

#include <memory>

namespace calib {

bool SendPacket(const QByteArray& packet, const std::vector<SendTarget>& targets)
{
    if (packet.size() < int(proto::kHeaderSize) || std::size_t(packet.size()) > proto::kBufferSize)
        return false;
    auto request = std::make_unique<SendRequest>();
    for (const SendTarget& t : targets)
        request->AddTarget(t.ip, t.port);
    // A list whose entries were all refused must not fall back to the
    // current player: that would reach a player nobody chose.
    if (!targets.empty() && request->targets.empty())
        return false;
    request->data = packet;
    return SendToMainWindow(request.release());
}

std::vector<SendTarget> DevicesOf(const std::vector<SendTarget>& byCell)
{
    std::vector<SendTarget> out;
    for (const SendTarget& t : byCell)
        if (!t.ip.isEmpty())
            out.push_back(t);
    return out;
}

}  // namespace calib
