#include "calibration/output_setup.h"

#include "transport/protocol.h"

#include <algorithm>

namespace calib {

using namespace warpblock;

namespace {

uint16_t down8(uint32_t v)
{
    return uint16_t(v & 0xFFF8u);
}

struct Record {
    const uint8_t* p;
    uint16_t u16(std::size_t offset) const { return proto::getU16(p + offset); }
    // Rows and columns are 1..9 in a sound block; anything else is held there
    // so that no table is indexed outside its nine entries.
    int rows() const { return std::clamp<int>(u16(kRows), 1, 9); }
    int columns() const { return std::clamp<int>(u16(kColumns), 1, 9); }
    uint16_t channel(int slot) const { return u16(kSlots + 3 * std::size_t(slot)); }
    uint8_t selected(int slot) const { return p[kSlots + 3 * std::size_t(slot) + 2]; }
    int slotCount() const { return std::min<int>(u16(kSlotCount), 9); }
    // Band entry of the cell in row r and column c: r + 9c.
    uint16_t band(int entry, int side) const { return u16(kBands + 8 * std::size_t(entry) + 2 * std::size_t(side)); }
};

enum Side { kLeft = 0, kTop = 1, kRight = 2, kBottom = 3 };

int recordsInUse(const uint8_t* w)
{
    return std::clamp<int>(proto::getU16(w + kRecordsInUse), 0, 2);
}

}  // namespace

bool BuildOutputConfig(QByteArray& warp, uint16_t channelCount, bool singleChannel, grid::OutputConfig& out)
{
    if (std::size_t(warp.size()) != kSize)
        return false;
    uint8_t* w = reinterpret_cast<uint8_t*>(warp.data());
    out = grid::OutputConfig();
    out.screenCount = proto::getU16(w + kRecordsInUse);
    out.layoutCode = proto::getU16(w + kRotation);
    out.channelCount = channelCount;
    for (std::size_t i = 0; i < 4; ++i)
        out.colours[i] = proto::getU32(w + kColours + 4 * i);
    const uint16_t screenMode = proto::getU16(w + kScreenMode);
    const int records = recordsInUse(w);

    int total = 0;
    for (int s = 0; s < records; ++s) {
        const Record rec{w + std::size_t(s) * kRecordSize};
        total += rec.rows() * rec.columns();
    }
    out.outputCount = uint16_t(std::min(total, 9));

    int next = 0;  // the next output entry to fill
    int firstSlots = 0;
    for (int s = 0; s < records; ++s) {
        uint8_t* rp = w + std::size_t(s) * kRecordSize;
        const Record rec{rp};
        const int r = rec.rows(), c = rec.columns();
        const uint16_t outW = down8(rec.u16(kOutputWidth)), outH = down8(rec.u16(kOutputHeight));
        uint16_t cellW[9] = {}, cellH[9] = {};
        for (int i = 0; i < r; ++i) {
            uint16_t width = rec.u16(kRowWidths + 2 * std::size_t(i));
            for (int j = 0; j + 2 <= c; ++j)
                width = uint16_t(width + rec.band(i + 9 * j, kRight));
            width = down8(width);
            proto::putU16(rp + kRowWidths + 2 * std::size_t(i), width);
            cellW[i] = std::min(down8(uint16_t(width / c)), outW);
        }
        for (int j = 0; j < c; ++j) {
            uint16_t height = rec.u16(kColumnHeights + 2 * std::size_t(j));
            for (int k = 0; k + 2 <= r; ++k)
                height = uint16_t(height + rec.band(k + 9 * j, kBottom));
            height = down8(height);
            proto::putU16(rp + kColumnHeights + 2 * std::size_t(j), height);
            cellH[j] = std::min(down8(uint16_t(height / r)), outH);
        }
        for (int i = 0; i < r; ++i) {
            uint16_t x = 0;
            for (int j = 0; j < c; ++j) {
                const int slot = c * i + j;
                if (next < grid::OutputConfig::kOutputs) {
                    grid::OutputEntry& e = out.outputs[std::size_t(next)];
                    uint16_t overlap = 0;
                    for (int k = 0; k < i; ++k)
                        overlap = uint16_t(overlap + rec.band(9 * j + k, kBottom));
                    const uint16_t top = uint16_t(i * cellH[j] - overlap);
                    e.left = x;
                    e.top = top;
                    e.right = uint16_t(x + cellW[i]);
                    e.bottom = uint16_t(top + cellH[j]);
                    e.screenIndex = uint16_t(s);
                    e.layoutMode = screenMode;
                    e.outputId = slot < 9 ? rec.channel(slot) : 0;
                    e.gridColumns = uint16_t((cellW[i] - 1) / 64 + 1);
                    e.gridRows = uint16_t((cellH[j] - 1) / 32 + 1);
                    e.lastX = uint16_t(cellW[i] - 1);
                    e.lastY = uint16_t(cellH[j] - 1);
                    e.maxX = rec.u16(kOutputWidth);
                    e.maxY = rec.u16(kOutputHeight);
                    e.cellByte = slot < 9 ? rec.selected(slot) : 0;
                }
                ++next;
                x = uint16_t(x + cellW[i] - rec.band(i + 9 * j, kRight));
            }
        }
        if (screenMode >= 1 && screenMode <= 3) {
            const int last = (s == 0 ? rec.slotCount() : firstSlots + rec.slotCount()) - 1;
            if (last >= 0 && last < grid::OutputConfig::kOutputs) {
                const grid::OutputEntry& e = out.outputs[std::size_t(last)];
                out.screens[std::size_t(s)] = {0, 0, uint16_t(e.right), uint16_t(e.bottom)};
            }
        }
        if (s == 0)
            firstSlots = rec.slotCount();
    }

    if (singleChannel) {
        for (grid::ScreenRect& sr : out.screens)
            sr = {0, 0, 1920, 1080};
        for (grid::OutputEntry& e : out.outputs) {
            e.left = 0;
            e.top = 0;
            e.right = 1920;
            e.bottom = 1080;
            e.gridColumns = 30;
            e.gridRows = 34;
            e.lastX = 1919;
            e.lastY = 1079;
        }
    }
    return true;
}

QByteArray BuildAdjustModePayload(const QByteArray& warp, bool horizontalCurved, bool verticalCurved)
{
    if (std::size_t(warp.size()) != kSize)
        return QByteArray();
    const uint8_t* w = reinterpret_cast<const uint8_t*>(warp.constData());
    QByteArray out(qsizetype(kAdjustModePayloadSize), '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    for (int s = 0; s < 2; ++s) {
        const Record rec{w + std::size_t(s) * kRecordSize};
        p[2 * s] = uint8_t(rec.u16(kRows));
        p[2 * s + 1] = uint8_t(rec.u16(kColumns));
    }
    p[4] = horizontalCurved ? 1 : 0;
    p[5] = verticalCurved ? 1 : 0;
    std::fill(p + 78, p + 96, uint8_t(0xFF));
    const int records = recordsInUse(w);
    int listed = 0;
    for (int s = 0; s < records; ++s) {
        const Record rec{w + std::size_t(s) * kRecordSize};
        const int c = rec.columns();
        for (int k = 0; k < rec.slotCount(); ++k) {
            if (listed < 9) {
                const uint16_t channel = rec.channel(k);
                const int entry = k / c + 9 * (k % c);
                if (channel < 9) {
                    for (int side = 0; side < 4; ++side)
                        proto::putU16(p + 6 + 8 * channel + 2 * std::size_t(side), rec.band(entry, side));
                }
                ++listed;
            }
            p[78 + 9 * s + k] = rec.selected(k);
        }
    }
    return out;
}

}  // namespace calib
