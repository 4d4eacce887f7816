#include "core/main_veluna_features.h"

#include "calibration/blend_commands.h"
#include "calibration/calibration_feature.h"
#include "content/content_commands.h"
#include "core/command_registry.h"
#include "core/devices/device_commands.h"
#include "core/layout/layout_commands.h"
#include "core/scan_for_devices.h"
#include "interactive/interactive_commands.h"
#include "rotation/rotation_feature.h"

// Each feature library above the core registers its commands and openers
// here (core/command_registry.h); the core itself names none of them.
void InstallFeatures()
{
    InstallScanCommands();
    core::InstallDocumentCommands();
    content::InstallContentCommands();
    InstallRotationFeature();
    InstallDeviceCommands();
    calib::InstallBlendCommands();
    layout::InstallLayoutCommands();
    interactive::InstallInteractiveCommands();
    InstallCalibrationFeature();
}
