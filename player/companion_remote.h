#pragma once
// What the simulated player adds to CMD_VIDEO_CONTROL for Tollivar's remote
// control: the capability query (cmdId 3) is answered with the player's own
// button labels. Every other cmdId, and the log of commands, stays with
// player/remote_commands.h.

#include <QByteArray>

namespace sim {

class PlayerSim;

// Read and change only while holding the simulator's stateMutex().
struct CapabilityState {
    // The whole payload of the reply to cmdId 3; empty: the reply carries none.
    QByteArray reply;
    int queries = 0;  // capability queries answered
};

// The default reply: labels for the types 2 to 12, the power buttons (6, 7)
// included.
QByteArray defaultCapabilityReply();
CapabilityState& capabilityState(PlayerSim& sim);
// Called by installStandardCommands after installRemoteCommands.
void installCompanionRemote(PlayerSim& sim);

}  // namespace sim
