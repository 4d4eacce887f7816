#pragma once
// What the simulated player adds for batch sending: the catalogue reply
// echoes the act it lists at offset 10, and material (command 53) is kept by
// MD5: an announce is answered with 1 at offset 10 when a material of that
// digest is held, 0 when the player wants the file, whose chunks follow.
//
// The state lives in its own struct, reached with batchState(sim) while
// holding sim.stateMutex().

#include <QByteArray>

#include <cstdint>
#include <map>
#include <vector>

namespace sim {

class PlayerSim;

struct MaterialUpload {
    uint16_t kind = 0;
    QByteArray name;  // code-page bytes of the name field up to its first zero
    QByteArray md5;   // as announced
    QByteArray data;
    bool complete = false;
};

struct BatchState {
    std::map<QByteArray, QByteArray> materialByMd5;  // digest text -> name bytes
    std::vector<MaterialUpload> materialUploads;
    int announces = 0;
};

void installBatchCommands(PlayerSim& sim);
// The batch state of `sim` (made when missing). Hold sim.stateMutex().
BatchState& batchState(PlayerSim& sim);

}  // namespace sim
