// ProjectorGraph.QVE, then the edits and samples that use what was taken.
#include "calibration/blend_ramps.h"
#include "calibration/geometric_correction.h"
#include "fuzz_support.h"

namespace {

std::unique_ptr<calib::CProjectorGraph> wizardGraph()
{
    auto g = std::make_unique<calib::CProjectorGraph>();
    g->data().canvas = {10, 170, 1370, 435};
    g->SetDefaultPoints();
    calib::BlendArrangement a;
    a.channelCount = 2;
    a.channels[0].bandLeft = 240;
    a.channels[0].bandRight = 180;
    a.channels[1].bandTop = 202;
    a.channels[1].bandBottom = 68;
    g->data().arrangement = a;
    g->data().channelCount = 2;
    g->ApplyBandDefaults();
    return g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const QByteArray sound = wizardGraph()->data().toBytes();
    auto g = wizardGraph();
    if (g->ApplyFileBytes(fuzzsupport::patched(sound, data, size)) != calib::FileLoad::Loaded)
        return 0;
    for (int key : {calib::CProjectorGraph::kRight, calib::CProjectorGraph::kRight, calib::CProjectorGraph::kUp,
                    calib::CProjectorGraph::kMinus, calib::CProjectorGraph::kDown, calib::CProjectorGraph::kLeft})
        g->OnKey(key);
    g->OnDrag(0, -100000);
    for (int entry = 0; entry < 2; ++entry) {
        (void)calib::PackRamps(calib::BuildCurveRamps(*g, entry, calib::kRampHorizontal));
        (void)calib::PackRamps(calib::BuildCurveRamps(*g, entry, calib::kRampVertical));
    }
    return 0;
}
