#include "calibration/calibration_feature.h"

#include "calibration/warp_main.h"
#include "core/editor_hooks.h"

// The projection players (products by the low nibble of the version word,
// plus one) whose setup editor is the warp wizard.
static constexpr uint8_t kWarpProducts[] = {1, 3};

void InstallCalibrationFeature()
{
    for (uint8_t product : kWarpProducts)
        core::registerSetupEditor(product, [](CvelunaDoc& doc) { calib::OpenWarpWizard(doc); });
}
