#pragma once
// The simulated player's play modes and mobile-app settings: the catalogue
// of picture and video play modes it offers, the picture types it knows, the
// modes configured on it and its mobile-app settings, all as the JSON
// documents it serves. CMD_PICTURE_PLAY (63) operations 0-3 and the video
// upload (6 at 8, 2 at 10), CMD_PARAM_FILE kind 6 operations 0-1 and
// CMD_MOBILE_SETTINGS (62) operations 0-1 are answered from it; what is
// uploaded replaces the configured document, so a reopened editor shows it.
//
// Reached with playModeStore(sim) while holding sim.stateMutex().

#include <QByteArray>

#include <vector>

namespace sim {

class PlayerSim;
struct Request;
struct Reply;

struct PlayModeState {
    QByteArray pictureCatalogue;  // served for 63 operation 0
    QByteArray pictureModes;      // 63 operation 1; replaced by operation 3
    QByteArray imageTypes;        // 63 operation 2
    QByteArray videoCatalogue;    // kind 6 operation 0
    QByteArray videoModes;        // kind 6 operation 1; replaced by the video upload
    QByteArray mobileSettings;    // 62 operation 0; replaced by operation 1
    int pictureUploads = 0;
    int videoUploads = 0;
    int mobileUploads = 0;
};

// Installs the commands on `sim` with a small sample of each document.
void installPlayModes(PlayerSim& sim);
// The state of `sim` (made, empty, when missing). Hold sim.stateMutex().
PlayModeState& playModeStore(PlayerSim& sim);
// CMD_PARAM_FILE kind 6, called by the parameter-file dispatch (takes the
// state lock itself).
std::vector<Reply> answerVideoPlayModes(PlayerSim& sim, const Request& request);

}  // namespace sim
