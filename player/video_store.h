#pragma once
// The simulated player's video store: one catalogue per act (0 and 1), the
// three slider values, the play time, the uploads it received and the
// parameter archive it serves and takes back. Commands 19 to 23, 41, 51 and
// CMD_PARAM_FILE kinds 2, 3 and 5 are answered from it.
//
// The state lives in its own struct, reached with videoStore(sim) while
// holding sim.stateMutex(); tests set it up and read it back that way.

#include "transport/records.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

class PlayerSim;

struct VideoUpload {
    uint16_t act = 0;
    QByteArray category;  // the 8-byte field up to its first zero
    QByteArray name;      // code-page bytes as they came
    QByteArray data;
    bool complete = false;
};

struct VideoStoreState {
    std::array<PlayerCatalog, 2> acts{};
    bool locked = false;           // replies carry 1 at offset 10 and change nothing
    int lockOnUploadPacket = -1;   // the n-th upload packet (from 0) finds the store locked
    bool pushChanges = true;       // CMD_VIDEO_LIST_CHANGED after a change
    std::array<uint16_t, 3> sliders{0, 50, 0};
    int32_t playTimeSeconds = 0;
    std::vector<VideoUpload> uploads;
    std::vector<QByteArray> played;  // names of play requests
    int uploadPackets = 0;
    // Parameter archive: served in chunks of `archiveChunk` for a backup;
    // the bytes of a recovery are collected in `recovered`.
    QByteArray archive;
    std::size_t archiveChunk = proto::kChunkSize;
    std::size_t archiveSent = 0;
    QByteArray recovered;
    bool recoveryComplete = false;
};

// Installs the store's commands on `sim` and resets its state.
void installVideoStore(PlayerSim& sim);
// The store of `sim` (installing an empty one when missing). Hold
// sim.stateMutex() while using it.
VideoStoreState& videoStore(PlayerSim& sim);

// Catalogue editing as the player does it (also used by tests to fill one).
// The index of the category with this name, or -1.
int findCategory(const PlayerCatalog& catalog, const QByteArray& name);
// Adds a category in the first free entry; its index, or -1 when all 64 are used.
int addCategory(PlayerCatalog& catalog, const QByteArray& name);
// Adds a video to a category (made when missing); false when full.
bool addVideo(PlayerCatalog& catalog, const QByteArray& category, const QByteArray& name, uint64_t size);

}  // namespace sim
