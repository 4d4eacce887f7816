#pragma once
// The simulated player's remote play control (CMD_VIDEO_CONTROL), QR-code
// settings (CMD_QRCODE) and picture gallery changes (CMD_GALLERY). The state
// lives in its own struct, reached with remoteState(sim) while holding
// sim.stateMutex().

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

namespace sim {

class PlayerSim;

struct ControlCommand {
    uint16_t cmdId = 0;
    QByteArray document;
};

struct GalleryChange {
    uint16_t operation = 0;
    uint16_t argument = 0;
    QByteArray payload;
};

struct RemoteState {
    // Play position: every progress query moves it one second on (wrapping).
    int position = 3725;
    int duration = 7322;
    QByteArray typeName = "Ads";
    QByteArray videoName = "a.mp4";
    std::vector<ControlCommand> commands;  // every CMD_VIDEO_CONTROL, in order
    // QR code: the stored document (returned by a read) and the picture
    // (empty: the reply to op 1 carries nothing).
    QByteArray qrDocument;
    QByteArray qrPicture;
    // Gallery: folder (code-page bytes) -> picture names; what arrived.
    std::map<QByteArray, std::vector<QByteArray>> gallery;
    std::map<QByteArray, QByteArray> pictureData;  // "folder:name" -> bytes (thumbnail and picture)
    uint64_t freeSpace = 100000000;
    std::vector<GalleryChange> galleryChanges;
    QByteArray uploadName;  // announced "folder:name"
    QByteArray uploadData;
};

RemoteState& remoteState(PlayerSim& sim);
void installRemoteCommands(PlayerSim& sim);

}  // namespace sim
