// The warp settings block as the page reads it, the output configuration and
// adjustment payload built from it, and a grid reset over that configuration.
#include "calibration/blend_ramps.h"
#include "calibration/output_setup.h"
#include "calibration/warp_settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static auto model = fuzzsupport::pageModel();
    QByteArray block(reinterpret_cast<const char*>(data), qsizetype(std::min<std::size_t>(size, calib::warpblock::kSize)));
    block.resize(qsizetype(calib::warpblock::kSize), '\0');
    (void)calib::BuildAdjustModePayload(block, true, false);
    // The typed record, the form it reopens as, the rules and the blend
    // arrangement over whatever a sound-length file holds.
    calib::WarpSettings settings;
    if (settings.fromBytes(block)) {
        calib::WarpForm form = calib::WarpForm::fromSettings(settings);
        form.channelChecked.fill(true);
        (void)calib::CheckWarpForm(settings, form, {}, 9, 9);
        (void)calib::BuildBlendArrangement(settings, size > 2 && (data[2] & 1));
    }
    grid::OutputConfig config;
    if (!calib::BuildOutputConfig(block, 9, size > 0 && (data[0] & 0x80), config))
        return 0;
    model->config = config;
    model->ResetGrids(config.layoutCode);
    // Rebuilding the shape canvases is slow: for a part of the inputs only.
    if (size > 1 && (data[1] & 7) == 0)
        model->ResetShapes();
    uint8_t rects[108];
    model->BuildOutputRectPayload(rects);
    (void)model->BuildCorrectedPayload();
    // The gamma table travels as configuration too: the first 288 bytes.
    calib::GammaTable gamma;
    gamma.fromBytes(block.left(288));
    return 0;
}
