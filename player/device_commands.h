#pragma once
// The simulated player's answers to the device dialogs: power and its timer,
// temperatures that change, serial bytes queued for polling, protocol files
// and firmware transfers stored and checked.

#include "player/player_sim.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

namespace sim {

// Read and change only while holding the simulator's stateMutex().
struct DeviceStore {
    bool powerOn = true;
    QByteArray powerTimer = QByteArray(15, '\0');  // the 15-byte timer record
    bool driftTemperatures = true;  // each reply moves the temperatures a little
    int temperatureTick = 0;
    std::deque<QByteArray> usartQueue;  // one entry answers one poll
    std::array<QByteArray, 3> protocolFiles;  // by sub-code
    std::array<uint16_t, 3> protocolIndex{};  // u16 at 8 of the last file of each kind
    struct Upgrade {
        QByteArray name;      // the name message's bytes
        QByteArray data;      // chunks so far
        int chunks = 0;
        bool complete = false;
        uint16_t lastSequence = 0;
    };
    std::array<Upgrade, 2> upgrades;  // 0 CPU program, 1 FPGA image
    // A name equal to the installed one is answered "latest version" (arg 1).
    std::array<QByteArray, 2> installedNames;
    // The window editor's last 28-byte state, its background flag, and how
    // many live updates (sub-code 128) and saves (64) came.
    QByteArray videoPicWindow;
    uint16_t videoPicBackground = 0;
    int videoPicUpdates = 0;
    int videoPicSaves = 0;
};

// Installs the answers on `sim` (replacing earlier ones of these codes) and
// returns the state they keep.
std::shared_ptr<DeviceStore> installDeviceCommands(PlayerSim& sim);
// The state the last installDeviceCommands on `sim` keeps; null before.
std::shared_ptr<DeviceStore> deviceStore(const PlayerSim& sim);

}  // namespace sim
