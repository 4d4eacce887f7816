#pragma once
// The simulated player's side of the video-wall rotation: every Rotate.Json
// document (CMD_ROTATE_CONFIG, 57) is recorded and answered after a delay
// the test sets, or never. A rotation player is one whose version word has
// the low nibble 1 (SimOptions::version), with its channel code in
// SimOptions::channelCode; its Rotate.QVE travels as configuration file 17
// through the configuration store.

#include "player/player_sim.h"

#include <QByteArray>

#include <memory>
#include <mutex>
#include <vector>

namespace sim {

class RotationPlayer {
public:
    // Answer after `ms` milliseconds (0: at once); a negative value: never.
    void setReplyDelay(int ms);
    std::vector<QByteArray> documents() const;
    std::size_t documentCount() const;

    std::vector<Reply> handle(PlayerSim& sim, const Request& request);

private:
    mutable std::mutex mutex_;
    int delayMs_ = 0;
    std::vector<QByteArray> documents_;
};

void installRotationCommands(PlayerSim& sim);
// The rotation state installed on `sim`, or null.
std::shared_ptr<RotationPlayer> rotationPlayerOf(const PlayerSim& sim);

}  // namespace sim
