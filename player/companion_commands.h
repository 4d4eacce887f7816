#pragma once
// What a player answers to Tollivar beyond the standard commands: its serial
// control protocol document (CMD_PARAM_FILE kind 1), its cascade role
// (CMD_CASCADE_QUERY). The bytes its serial port heard (CMD_USART_DATA) are
// the device store's (player/device_commands.h).

#include "player/player_sim.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

// Read and change only while holding the simulator's stateMutex().
struct CompanionState {
    QByteArray protocolDocument;           // served on a fetch, replaced by a store
    std::vector<uint8_t> storeSubCodes;    // sub-code (restart flag) of every store, in order
    bool cascadeSupported = true;          // false: the query is answered "not supported"
    uint8_t cascadeMode = 0;               // 0 independent, 1 master, 2 slave
    std::vector<std::array<uint8_t, 4>> cascadeAddresses;
};

// Installs the answers on `sim` (called by installStandardCommands). Kinds of
// CMD_PARAM_FILE other than 1 go to the handler registered before.
void installCompanionCommands(PlayerSim& sim);
// The state of a simulator the commands were installed on (null otherwise).
CompanionState* companionState(PlayerSim& sim);

}  // namespace sim
