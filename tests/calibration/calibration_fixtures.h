#pragma once
// Models set up the way the geometric warp page sets them up.

#include "calibration/geometric_correction.h"

#include <memory>

namespace calibtest {

// Sanitizer builds run every step of an arithmetic test many times slower:
// a random sample is cut by this divisor there, so that each test stays
// well inside its time-out on a loaded machine.
#if defined(VELUNA_SANITIZED_BUILD)
inline constexpr int kSampleDivisor = 10;
#else
inline constexpr int kSampleDivisor = 1;
#endif

// One 1,920 x 1,080 output (id 0, layout mode 1) on one screen, grids reset.
inline std::unique_ptr<calib::CGeometricCorrection> oneOutputModel(uint16_t layoutCode = 0)
{
    auto m = std::make_unique<calib::CGeometricCorrection>();
    m->canvas = {18, 28, 18 + 960, 28 + 540};
    grid::OutputEntry& e = m->config.outputs[0];
    e.right = 1920;
    e.bottom = 1080;
    e.layoutMode = 1;
    e.lastX = 1919;
    e.lastY = 1079;
    e.maxX = 1920;
    e.maxY = 1080;
    m->config.outputCount = 1;
    m->config.screenCount = 1;
    m->config.layoutCode = layoutCode;
    m->ResetGrids(layoutCode);
    return m;
}

inline int activeCount(const grid::WarpGrid& g)
{
    int n = 0;
    for (std::size_t i = 0; i < grid::WarpGrid::kPoints; ++i)
        n += g.points()[i].active;
    return n;
}

}  // namespace calibtest
