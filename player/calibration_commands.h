#pragma once
// The simulated player's side of the warp wizard: the video-channel setup
// (6), adjustment mode (12), blend switch (13), per-pixel channel maps (2)
// and edge-shape points (34). Each is answered with its command and the
// request's sub-code; what was sent is kept for the tests (the requests in
// order, the last map and point block per sub-code, the adjustment state).

#include "player/player_sim.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

class CalibrationPlayer {
public:
    struct Seen {
        uint8_t command = 0;
        uint8_t subCode = 0;
        uint16_t param = 0;
        uint16_t arg = 0;
        uint16_t sequence = 0;
        int payloadSize = 0;
    };
    std::vector<Seen> requests() const;
    bool inAdjustment() const;
    int adjustEnters() const;
    int adjustLeaves() const;
    // The last payload of a command with that sub-code (empty when none).
    QByteArray lastPayload(uint8_t command, uint8_t subCode) const;
    // Answer nothing to this command from now on (the player hangs).
    void setSilent(uint8_t command, bool silent);

    std::vector<Reply> handle(const Request& request);

private:
    mutable std::mutex mutex_;
    std::vector<Seen> requests_;
    std::map<int, QByteArray> payloads_;
    std::map<uint8_t, bool> silent_;
    bool inAdjustment_ = false;
    int enters_ = 0, leaves_ = 0;
};

void installCalibrationCommands(PlayerSim& sim);
std::shared_ptr<CalibrationPlayer> calibrationPlayerOf(const PlayerSim& sim);

}  // namespace sim
