#pragma once
// The simulated player's material store: the pictures and videos that
// layouts show (CMD_MATERIAL) and the watermark picture (CMD_PARAM_FILE
// kind 0). Each file comes as an announce with its name and MD5 text, then
// chunks; the store answers "already have it" for a name and MD5 it holds,
// checks every finished file against its announced MD5 and logs what it got.
// The layouts themselves stay with the standard CMD_LAYOUT answers.
//
// The state lives in its own struct, reached with layoutStore(sim) while
// holding sim.stateMutex().

#include <QByteArray>
#include <QCryptographicHash>

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

class PlayerSim;

struct StoredMaterial {
    uint16_t kind = 0;          // 0 picture, 1 video (param of the announce)
    QByteArray name;            // the name field up to its first zero
    QByteArray announcedMd5;    // the 32 characters of the announce
    uint64_t size = 0;
    QByteArray data;            // kept only with keepData
    std::vector<uint32_t> chunkSizes;
    std::vector<uint8_t> chunkSubCodes;
    bool complete = false;
    bool md5Matches = false;    // the bytes' MD5 equals the announced one
    std::shared_ptr<QCryptographicHash> hash;
};

struct LayoutStoreState {
    std::vector<StoredMaterial> materials;  // finished and running, in order
    std::vector<QByteArray> skipped;        // names answered "already have it"
    bool keepData = true;                   // benchmarks turn it off
    bool hashData = true;                   // off: no MD5 check (md5Matches stays false)
    // The watermark: the last one received and what its last chunk answers.
    StoredMaterial watermark;
    bool watermarkFails = false;            // last chunk answered with arg 1
};

void installLayoutStore(PlayerSim& sim);
// Makes the store hold a finished, verified file, as if it had been sent.
void holdMaterial(LayoutStoreState& store, const QByteArray& name, const QByteArray& md5Text);
// Hold sim.stateMutex() while using it.
LayoutStoreState& layoutStore(PlayerSim& sim);
// Handles CMD_PARAM_FILE kind 0 (called by the parameter-file answer, with
// sim.stateMutex() not held).
struct Request;
struct Reply;
std::vector<Reply> watermarkFile(PlayerSim& sim, const Request& req);

}  // namespace sim
