#pragma once
// The simulated player's answer to CMD_FACTORY_RESET (55): an empty reply,
// which the tool ignores. Tests count the requests in the log.

namespace sim {
class PlayerSim;
void installFactoryReset(PlayerSim& sim);
}  // namespace sim
