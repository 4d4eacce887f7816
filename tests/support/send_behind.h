#pragma once
// A request sent behind what a dialog sent, for checks that an action sent
// nothing: requests reach the player in the order they were sent, so once
// the player has this one, all that was sent before it has arrived, however
// slowly the packets travel.

#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <memory>

namespace testsupport {

// Sends a request of `code` and `param` with no payload through the main
// window, as a dialog sends it, and returns once `player` has it. The caller
// picks a request whose reply changes nothing it looks at, and of which no
// other is on its way (one sent earlier would end the wait). Unnamed, it goes
// to veluna's current player, over the link the dialogs' requests take;
// `named`, it names `player`, as Tollivar's pages do (its hub keeps one link
// per address).
inline bool SendBehind(const sim::PlayerSim& player, uint8_t code, uint16_t param = 0, bool named = false)
{
    auto markers = [&] {
        std::size_t n = 0;
        for (const sim::LogEntry& e : RequestsOf(player, code))
            n += e.header.param == param && e.payload.isEmpty();
        return n;
    };
    const std::size_t before = markers();
    proto::PlayerPacketHeader header;
    header.command = code;
    header.param = param;
    auto request = std::make_unique<SendRequest>();
    if (named)
        request->AddTarget(player.options().address, player.tcpPort());
    if (!request->SetPacket(header) || !SendToMainWindow(request.release()))
        return false;
    return waitUntil([&] { return markers() > before; });
}

}  // namespace testsupport
