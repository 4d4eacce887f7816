#pragma once
// Shared by the fuzz targets: the files they attack are large and of fixed
// length, so an input is read as edits to a sound file built here:
//   byte 0: length (0 exact, 1 one byte short, 2 one byte long, other: the
//           input after byte 0 is the whole file as it stands);
//   then groups of 5 bytes: u32 offset (taken modulo the length), u8 value.
// Small inputs thus reach every field of a multi-megabyte file.

#include "calibration/geometric_correction.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fuzzsupport {

inline QByteArray patched(const QByteArray& sound, const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return sound;
    const uint8_t mode = data[0];
    if (mode > 2)
        return QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QByteArray file = sound;
    if (mode == 1)
        file.chop(1);
    else if (mode == 2)
        file.append('\0');
    if (file.isEmpty())
        return file;
    for (std::size_t i = 1; i + 5 <= size; i += 5) {
        const uint32_t offset = uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
                                uint32_t(data[i + 3]) << 24;
        file[qsizetype(offset % uint32_t(file.size()))] = char(data[i + 4]);
    }
    return file;
}

// A model as the geometric warp page sets it up: two outputs side by side on
// one screen and half-size shape canvases for two screens.
inline std::unique_ptr<calib::CGeometricCorrection> pageModel()
{
    auto m = std::make_unique<calib::CGeometricCorrection>();
    m->canvas = {18, 28, 18 + 960, 28 + 540};
    for (int i = 0; i < 2; ++i) {
        grid::OutputEntry& e = m->config.outputs[std::size_t(i)];
        e.left = 1680 * i;
        e.right = e.left + 1920;
        e.bottom = 1080;
        e.layoutMode = 1;
        e.outputId = uint16_t(i);
        e.lastX = 1919;
        e.lastY = 1079;
        e.maxX = 1920;
        e.maxY = 1080;
    }
    m->config.outputCount = 2;
    m->config.screenCount = 2;
    m->config.screens[0] = {0, 0, 3600, 1080};
    m->config.screens[1] = {0, 0, 1280, 720};
    m->ResetGrids(0);
    m->ResetShapes();
    return m;
}

}  // namespace fuzzsupport
