#pragma once
// The calibration feature's one install function: the warp wizard becomes
// the setup editor of products 1 and 3 (WM_OPEN_SETUP_EDITOR).

void InstallCalibrationFeature();
