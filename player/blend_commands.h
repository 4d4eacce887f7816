#pragma once
// The simulated player's side of blending, test colours, cascading and the
// output timing: CMD_PROJECTOR_DATA (4) ramp files, colours and markers,
// CMD_OUTPUT_RESOLUTION (5), CMD_OUTPUT_MODE (17) and CMD_CASCADE_SET (35).
// Everything it is sent is kept for tests to read. The cascade role lives
// once, in the companion state (player/companion_commands.h), whose handler
// answers the query (36).

#include "player/player_sim.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

struct BlendPlayerState {
    // The nine timing values (18 bytes) of HDMI (sub-code 0) and VGA (1).
    std::array<QByteArray, 2> timings;
    // Every timing set: sub-code, frame rate (param) and the 16-byte payload.
    struct TimingSet {
        uint8_t output = 0;
        uint16_t frameRate = 0;
        QByteArray payload;
    };
    std::vector<TimingSet> timingSets;
    // Ramp files by sub-code (0x40 + n), the last one kept; every test colour
    // or marker payload (sub-code 0x20) in order.
    std::map<uint8_t, QByteArray> rampFiles;
    std::vector<QByteArray> testPatterns;
    std::vector<uint8_t> projectorDataSubCodes;  // every CMD_PROJECTOR_DATA, in order
    // Requests of CMD_PROJECTOR_DATA answered with silence while > 0.
    int silentProjectorData = 0;
};

class BlendPlayer {
public:
    BlendPlayer();
    // The state, under the player's own lock.
    template <class F>
    auto with(F&& f)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }
    std::vector<Reply> handle(const Request& request);

private:
    std::mutex mutex_;
    BlendPlayerState state_;
};

void installBlendCommands(PlayerSim& sim);
// The blending state installed on `sim`, or null.
std::shared_ptr<BlendPlayer> blendPlayerOf(const PlayerSim& sim);

}  // namespace sim
