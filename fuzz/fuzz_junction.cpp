// JunctionPoint.QVE as read from disk or from the player, then the payloads
// and the per-pixel map of what was taken.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static auto model = fuzzsupport::pageModel();
    static const QByteArray sound = [] {
        auto m = fuzzsupport::pageModel();
        m->corrected(1).at(64, 32).x = 1800;
        m->InterpolateGrid();
        return m->JunctionBytes();
    }();
    model->ResetGrids(0);
    if (model->ApplyJunctionBytes(fuzzsupport::patched(sound, data, size)) == calib::FileLoad::Loaded) {
        model->currentOutput = 1;
        model->InterpolateGrid();
        model->RefreshViewGrid();
        (void)model->BuildCorrectedPayload();
        (void)model->BuildPointPayload();
        // The map is the costly part: built for a part of the inputs only.
        if (size % 32 == 16)
            model->BuildChannelMap(1);
    }
    return 0;
}
