#include "core/output_config.h"

#include "transport/protocol.h"

#include <algorithm>

namespace grid {

using proto::getI32;
using proto::getU16;
using proto::getU32;
using proto::putI32;
using proto::putU16;
using proto::putU32;

void OutputEntry::pack(uint8_t* out) const
{
    putI32(out + 0, left);
    putI32(out + 4, top);
    putI32(out + 8, right);
    putI32(out + 12, bottom);
    putU16(out + 16, screenIndex);
    putU16(out + 18, layoutMode);
    putU16(out + 20, outputId);
    putU16(out + 22, gridColumns);
    putU16(out + 24, gridRows);
    putU16(out + 26, lastX);
    putU16(out + 28, lastY);
    putU16(out + 30, maxX);
    putU16(out + 32, maxY);
    out[34] = cellByte;
}

OutputEntry OutputEntry::unpack(const uint8_t* in)
{
    OutputEntry e;
    e.left = getI32(in + 0);
    e.top = getI32(in + 4);
    e.right = getI32(in + 8);
    e.bottom = getI32(in + 12);
    e.screenIndex = getU16(in + 16);
    e.layoutMode = getU16(in + 18);
    e.outputId = getU16(in + 20);
    e.gridColumns = getU16(in + 22);
    e.gridRows = getU16(in + 24);
    e.lastX = getU16(in + 26);
    e.lastY = getU16(in + 28);
    e.maxX = getU16(in + 30);
    e.maxY = getU16(in + 32);
    e.cellByte = in[34];
    return e;
}

void ScreenRect::pack(uint8_t* out) const
{
    putU16(out + 0, x);
    putU16(out + 2, y);
    putU16(out + 4, width);
    putU16(out + 6, height);
}

ScreenRect ScreenRect::unpack(const uint8_t* in)
{
    ScreenRect r;
    r.x = getU16(in + 0);
    r.y = getU16(in + 2);
    r.width = getU16(in + 4);
    r.height = getU16(in + 6);
    return r;
}

void OutputConfig::pack(uint8_t* out) const
{
    for (int i = 0; i < kOutputs; ++i)
        outputs[std::size_t(i)].pack(out + std::size_t(i) * OutputEntry::kSize);
    for (int i = 0; i < kScreens; ++i)
        screens[std::size_t(i)].pack(out + kScreensOffset + std::size_t(i) * ScreenRect::kSize);
    putU16(out + kScreenCountOffset, screenCount);
    putU16(out + kOutputCountOffset, outputCount);
    putU16(out + kLayoutCodeOffset, layoutCode);
    putU16(out + kChannelCountOffset, channelCount);
    for (int i = 0; i < 4; ++i)
        putU32(out + kColoursOffset + std::size_t(i) * 4, colours[std::size_t(i)]);
}

QByteArray OutputConfig::toBytes() const
{
    QByteArray bytes(int(kSize), '\0');
    pack(reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}

bool OutputConfig::unpack(const uint8_t* in, std::size_t size)
{
    if (!in || size < kSize)
        return false;
    for (int i = 0; i < kOutputs; ++i)
        outputs[std::size_t(i)] = OutputEntry::unpack(in + std::size_t(i) * OutputEntry::kSize);
    for (int i = 0; i < kScreens; ++i)
        screens[std::size_t(i)] = ScreenRect::unpack(in + kScreensOffset + std::size_t(i) * ScreenRect::kSize);
    screenCount = getU16(in + kScreenCountOffset);
    outputCount = getU16(in + kOutputCountOffset);
    layoutCode = getU16(in + kLayoutCodeOffset);
    channelCount = getU16(in + kChannelCountOffset);
    for (int i = 0; i < 4; ++i)
        colours[std::size_t(i)] = getU32(in + kColoursOffset + std::size_t(i) * 4);
    return true;
}

void GridPoint::pack(uint8_t* out) const
{
    putI32(out + 0, x);
    putI32(out + 4, y);
    out[8] = active;
    out[9] = selected;
}

GridPoint GridPoint::unpack(const uint8_t* in)
{
    GridPoint p;
    p.x = getI32(in + 0);
    p.y = getI32(in + 4);
    p.active = in[8];
    p.selected = 0;
    return p;
}

PixelMap::PixelMap() : points_(new (std::nothrow) GridPoint[kPoints]())
{
    Reset();
}

void PixelMap::Reset()
{
    if (points_)
        std::fill(points_.get(), points_.get() + kPoints, GridPoint());
    spacing = 1024;
    columnsInUse = 1;
    rowsInUse = 1;
    xScale = 1.0;
    yScale = 1.0;
}

}  // namespace grid
