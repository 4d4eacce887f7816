#pragma once
// The toolbar commands of the interactive dialogs, installed into the core's
// command table at start.

class CvelunaDoc;

namespace interactive {

inline constexpr int kCmdInteractiveSetup = 32802;  // "Interactive Setup"
inline constexpr int kCmdLidar = 32805;             // "Lidar"

void InstallInteractiveCommands();

// The openers (modal).
void OpenGameSetup(CvelunaDoc& doc);
void OpenLidarWizard(CvelunaDoc& doc);

}  // namespace interactive
