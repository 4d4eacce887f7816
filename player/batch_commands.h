#pragma once
// What the simulated player adds for batch sending: the catalogue reply
// echoes the act it lists at offset 10. Material (command 53) is the layout
// store's (player/layout_store.h), one store for every sender.

#include <QByteArray>

#include <cstdint>
#include <map>
#include <vector>

namespace sim {

class PlayerSim;

void installBatchCommands(PlayerSim& sim);

}  // namespace sim
