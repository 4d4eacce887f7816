// One cell of the per-pixel map: the scan of a corrected quad and the inverse
// map of every pixel in it, for any eight corner coordinates.
#include "calibration/channel_map.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 64)
        return 0;
    int32_t v[16];
    std::memcpy(v, data, sizeof v);
    calib::Quad ref, cor;
    for (std::size_t i = 0; i < 4; ++i) {
        ref.x[i] = v[2 * i];
        ref.y[i] = v[2 * i + 1];
        cor.x[i] = v[8 + 2 * i];
        cor.y[i] = v[8 + 2 * i + 1];
    }
    calib::SpanTable spans;
    calib::ScanQuad(cor, spans);
    calib::QuadCache cache;
    bool first = true;
    long pixels = 0;
    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        if (y < 0 || y >= calib::SpanTable::kRows)
            __builtin_trap();
        for (int32_t x = spans.firstX[std::size_t(y)]; x <= spans.lastX[std::size_t(y)]; ++x) {
            if (x < 0 || x >= calib::ChannelMap::kOutputColumns)
                __builtin_trap();
            (void)calib::MapPixelInverseBilinear(ref, cor, first, x, y, cache);
            first = false;
            if (++pixels > 200000)  // enough of one cell; keeps each input quick
                return 0;
        }
    }
    return 0;
}
