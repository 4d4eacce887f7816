#pragma once
// The menu commands of the calibration dialogs that open on their own
// ("Output Resolution Setting", "Cascading Settings"), installed into the
// core's command table at start.

class CvelunaDoc;

namespace calib {

inline constexpr int kCmdOutputResolution = 32778;
inline constexpr int kCmdCascading = 32793;

void InstallBlendCommands();

// Both need a connected player.
bool CanOpenCalibrationDialog(const CvelunaDoc& doc);
void OpenOutputResolution(CvelunaDoc& doc);
void OpenCascading(CvelunaDoc& doc);

}  // namespace calib
