#pragma once
// The menu commands of the calibration dialogs that open on their own
// ("Output Resolution Setting", "Cascading Settings"), installed into the
// core's command table at start.

class CvelunaDoc;

namespace calib {

inline constexpr int kCmdOutputResolution = 32778;
inline constexpr int kCmdCascading = 32793;

// Installs the commands below and the blending and colour pages of the
// warp wizard's third step.
void InstallBlendCommands();
// The pages as the wizard's tabs (nothing where the wizard is not built).
void InstallBlendTabPages();
bool BlendTabPagesAvailable();

void OpenOutputResolution(CvelunaDoc& doc);
void OpenCascading(CvelunaDoc& doc);

}  // namespace calib
