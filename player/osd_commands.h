#pragma once
// The player's text banner document (CMD_PARAM_FILE kind 4): a request with
// a payload stores it (answered with 1 at offset 10), one without fetches it.

#include "player/player_sim.h"

#include <QByteArray>

#include <cstddef>

namespace sim {

// Read and change only while holding the simulator's stateMutex().
struct OsdState {
    QByteArray document;      // served on a fetch, replaced by a store
    std::size_t stores = 0;   // documents received
    std::size_t fetches = 0;  // fetches answered
};

// Installs the answers on `sim` (called by installStandardCommands). Kinds of
// CMD_PARAM_FILE other than 4 go to the handler registered before.
void installOsdCommands(PlayerSim& sim);
// The state of a simulator the commands were installed on (null otherwise).
OsdState* osdState(PlayerSim& sim);

}  // namespace sim
