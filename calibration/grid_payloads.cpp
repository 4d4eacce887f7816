// The payloads the geometric warp page sends after each edit.
#include "calibration/geometric_correction.h"

#include "transport/protocol.h"

#include <algorithm>
#include <cmath>

namespace calib {

using grid::GridPoint;
using grid::WarpGrid;

namespace {

// (b2 << 24) | (b1 << 16) | (b0 << 8) | 0xFF from the low three bytes.
uint32_t colourWord(uint32_t field)
{
    const uint32_t b0 = field & 0xFF, b1 = (field >> 8) & 0xFF, b2 = (field >> 16) & 0xFF;
    return (b2 << 24) | (b1 << 16) | (b0 << 8) | 0xFFu;
}

void appendU32(QByteArray& out, uint32_t v)
{
    uint8_t b[4];
    proto::putU32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

}  // namespace

QByteArray CGeometricCorrection::pointList(int output, const WarpGrid& g, uint32_t c0, uint32_t c1, bool masked) const
{
    const grid::OutputEntry& e = config.outputs[std::size_t(output)];
    const int cols = std::min<int>(e.gridColumns, WarpGrid::kColumns);
    const int rws = std::min<int>(e.gridRows, WarpGrid::kRows);
    QByteArray out;
    out.reserve(12 + 4 * int(WarpGrid::kPoints));
    appendU32(out, colourWord(c0));
    appendU32(out, colourWord(c1));
    appendU32(out, 0);  // lattice word, filled below
    uint32_t latticeRows = 0, firstRowPoints = 0;
    for (int r = 0; r < rws; ++r) {
        uint32_t inRow = 0;
        for (int c = 0; c < cols; ++c) {
            const GridPoint& p = g.at(c, r);
            if (!p.active)
                continue;
            const uint32_t x = uint32_t(p.x), y = uint32_t(p.y);
            appendU32(out, masked ? ((y & 0xFFF) << 16) | (x & 0xFFF) : (y << 16) | x);
            ++inRow;
        }
        if (inRow > 0) {
            if (latticeRows == 0)
                firstRowPoints = inRow;
            ++latticeRows;
        }
    }
    proto::putU32(reinterpret_cast<uint8_t*>(out.data()) + 8,
                  ((latticeRows & 0xFFF) << 16) | (firstRowPoints & 0xFFF));
    return out;
}

GridPayload CGeometricCorrection::BuildPointPayload() const
{
    // The reference grid of the output before the current one.
    const int output = currentOutput > 0 ? currentOutput - 1 : 0;
    return {0, pointList(output, reference(output), config.colours[0], config.colours[1], true)};
}

GridPayload CGeometricCorrection::BuildCorrectedPayload() const
{
    return {1, pointList(currentOutput, corrected(currentOutput), config.colours[2], config.colours[3], false)};
}

GridPayload CGeometricCorrection::BuildShapePayload() const
{
    const grid::PixelMap& m = *canvas_;
    const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
    QByteArray out;
    appendU32(out, colourWord(config.colours[2]));
    appendU32(out, colourWord(config.colours[3]));
    appendU32(out, 0);  // defined content instead of whatever memory held
    auto add = [&](int c, int r) {
        const GridPoint& p = m.at(c, r);
        if (!p.active)
            return;
        const uint32_t x = uint32_t(int64_t(std::trunc(2.0 * p.x * m.xScale)));
        const uint32_t y = uint32_t(int64_t(std::trunc(2.0 * p.y * m.yScale)));
        appendU32(out, (y << 16) | x);
    };
    for (int r = 0; r < rws; ++r)
        add(0, r);
    for (int c = 1; c < cols; ++c)
        add(c, rws - 1);
    for (int r = rws - 2; r >= 0; --r)
        add(cols - 1, r);
    for (int c = cols - 2; c >= 1; --c)
        add(c, 0);
    return {1, out};
}

bool CGeometricCorrection::BuildOutputRectPayload(uint8_t* out) const
{
    std::fill(out, out + 108, uint8_t(0));
    const int outputs = std::min<int>(config.outputCount, kOutputs);
    uint16_t mask = 0;
    for (int i = 0; i < outputs; ++i)
        if (config.outputs[std::size_t(i)].outputId < kOutputs)  // ids beyond 8 name no output
            mask = uint16_t(mask | (1u << config.outputs[std::size_t(i)].outputId));
    proto::putU16(out + 0, mask);
    proto::putU16(out + 2, config.outputs[0].outputId);
    const int screens = std::min<int>(config.screenCount, grid::OutputConfig::kScreens);
    for (int s = 0; s < screens; ++s) {
        const grid::ScreenRect& r = config.screens[std::size_t(s)];
        uint8_t* p = out + 4 + 8 * s;
        proto::putU16(p + 0, r.x);
        proto::putU16(p + 2, r.y);
        proto::putU16(p + 4, r.width);
        proto::putU16(p + 6, r.height);
    }
    for (int i = 0; i < outputs; ++i) {
        const grid::OutputEntry& e = config.outputs[std::size_t(i)];
        if (e.outputId > 8 || e.layoutMode < 1 || e.layoutMode > 3)
            continue;
        uint8_t* p = out + 36 + 8 * e.outputId;
        proto::putU16(p + 0, uint16_t(e.left));
        proto::putU16(p + 2, uint16_t(e.right - 1));
        proto::putU16(p + 4, uint16_t(e.top));
        proto::putU16(p + 6, uint16_t(e.bottom - 1));
    }
    return true;
}

bool CGeometricCorrection::BuildChannelMap(int output)
{
    output = std::clamp(output, 0, kOutputs - 1);
    return calib::BuildChannelMap(reference(output), corrected(output), config.outputs[std::size_t(output)],
                           *channelMap_);
}

}  // namespace calib
