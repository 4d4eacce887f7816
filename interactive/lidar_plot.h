#pragma once
// The live lidar view: a polar plot of the points with bearing lines, rings
// and the point nearest in bearing to the mouse. A free function over a
// QPainter so that the page and the benchmark draw the same way.

#include "interactive/lidar_model.h"

#include <vector>

class QPainter;

namespace lidar {

struct PickedPoint {
    bool present = false;
    uint32_t distance = 0;  // truncated
    double angle = 0;       // degrees
};

// Draws into a w x h area from (0, 0), black where nothing is drawn; fills
// `picked` from the point nearest to `bearing` (radians) when there is one.
void DrawLidarPlot(QPainter& painter, int w, int h, float zoom, const std::vector<LidarPoint>& points,
                   double bearing, PickedPoint* picked, unsigned language = 9);

}  // namespace lidar
