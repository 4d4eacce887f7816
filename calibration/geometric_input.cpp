// Keys, mouse and the move checks of the grid-warp model.
#include "calibration/geometric_correction.h"

#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace calib {

using grid::GridPoint;
using grid::WarpGrid;

namespace {

bool isArrow(int key)
{
    return key >= kKeyLeft && key <= kKeyDown;
}

}  // namespace

// ---------------------------------------------------------------- move checks

bool CGeometricCorrection::findPoint(const GridPoint& point, int& column, int& row) const
{
    const WarpGrid& cor = corrected(currentOutput);
    for (int c = 0; c < columns(); ++c) {
        for (int r = 0; r < rows(); ++r) {
            const GridPoint& p = cor.at(c, r);
            if (p.active && p.selected && p.x == point.x && p.y == point.y) {
                column = c;
                row = r;
                return true;
            }
        }
    }
    return false;
}

CGeometricCorrection::Neighbours CGeometricCorrection::neighbours(int column, int row) const
{
    const WarpGrid& cor = corrected(currentOutput);
    Neighbours n;
    for (int c = column - 1; c >= 0 && !n.left; --c)
        if (cor.at(c, row).active)
            n.left = &cor.at(c, row);
    for (int c = column + 1; c < columns() && !n.right; ++c)
        if (cor.at(c, row).active)
            n.right = &cor.at(c, row);
    for (int r = row - 1; r >= 0 && !n.up; --r)
        if (cor.at(column, r).active)
            n.up = &cor.at(column, r);
    for (int r = row + 1; r < rows() && !n.down; ++r)
        if (cor.at(column, r).active)
            n.down = &cor.at(column, r);
    return n;
}

// May the control point at (column, row) move to (tx, ty)? The tested
// position is the target pushed 5 pixels further in the direction of the move
// towards each neighbour that exists, and must lie inside the region bounded
// by the neighbours; where a neighbour is missing the output's edge line takes
// its place, so that a border point stays within the output.
bool CGeometricCorrection::allowMove(int column, int row, int32_t tx, int32_t ty) const
{
    const WarpGrid& cor = corrected(currentOutput);
    const GridPoint& p = cor.at(column, row);
    const Neighbours n = neighbours(column, row);
    const grid::OutputEntry& e = entry();
    const double maxX = e.maxX > 0 ? e.maxX : e.lastX;
    const double maxY = e.maxY > 0 ? e.maxY : e.lastY;
    if (tx < 0 || ty < 0 || tx > maxX || ty > maxY)
        return false;
    for (const GridPoint* q : {n.left, n.up, n.right, n.down})
        if (q && q->x == tx && q->y == ty)
            return false;
    double x = tx, y = ty;
    if (tx < p.x && n.left)
        x -= 5;
    else if (tx > p.x && n.right)
        x += 5;
    if (ty < p.y && n.up)
        y -= 5;
    else if (ty > p.y && n.down)
        y += 5;
    // The edge lines lie one pixel outside the output so that points on the
    // edge itself count as inside.
    const double lx = n.left ? n.left->x : -1.0, rx = n.right ? n.right->x : maxX + 1;
    const double uy = n.up ? n.up->y : -1.0, dy = n.down ? n.down->y : maxY + 1;
    QPolygonF region;
    if (n.left)
        region << QPointF(n.left->x, n.left->y);
    else
        region << QPointF(-1.0, dy) << QPointF(-1.0, uy);
    if (n.up)
        region << QPointF(n.up->x, n.up->y);
    else
        region << QPointF(lx, -1.0) << QPointF(rx, -1.0);
    if (n.right)
        region << QPointF(n.right->x, n.right->y);
    else
        region << QPointF(maxX + 1, uy) << QPointF(maxX + 1, dy);
    if (n.down)
        region << QPointF(n.down->x, n.down->y);
    else
        region << QPointF(rx, maxY + 1) << QPointF(lx, maxY + 1);
    return region.containsPoint(QPointF(x, y), Qt::WindingFill);
}

bool CGeometricCorrection::HitTestCell(GridPoint point, GridPoint target) const
{
    int c = 0, r = 0;
    if (!findPoint(point, c, r))
        return false;
    return allowMove(c, r, target.x, target.y);
}

bool CGeometricCorrection::canStep(int dx, int dy) const
{
    const WarpGrid& cor = corrected(currentOutput);
    int count = 0;
    for (int c = 0; c < columns(); ++c) {
        for (int r = 0; r < rows(); ++r) {
            const GridPoint& p = cor.at(c, r);
            if (!p.active || !p.selected)
                continue;
            ++count;
            if (!allowMove(c, r, p.x + dx, p.y + dy))
                return false;
        }
    }
    return count > 0;
}

bool CGeometricCorrection::CanStepLeft() const { return canStep(-step, 0); }
bool CGeometricCorrection::CanStepRight() const { return canStep(step, 0); }
bool CGeometricCorrection::CanStepUp() const { return canStep(0, -step); }
bool CGeometricCorrection::CanStepDown() const { return canStep(0, step); }

bool CGeometricCorrection::CanDragSelection(int dx, int dy) const
{
    const WarpGrid& cor = corrected(currentOutput);
    const uint16_t mode = rotation[currentOutput];
    int count = 0;
    for (int c = 0; c < columns(); ++c) {
        for (int r = 0; r < rows(); ++r) {
            const GridPoint& p = cor.at(c, r);
            if (!p.active || !p.selected)
                continue;
            ++count;
            const GridPoint& s = snapshot_.at(c, r);
            int32_t tx = s.x - dx, ty = s.y - dy;
            if (mode == 1) {
                tx = s.x - dy;
                ty = s.y + dx;
            } else if (mode == 2) {
                tx = s.x + dy;
                ty = s.y - dx;
            }
            if (!allowMove(c, r, tx, ty))
                return false;
        }
    }
    return count > 0;
}

void CGeometricCorrection::MoveSelectionRect(int dx, int dy)
{
    bx1_ = bx1Press_ - dx;
    by1_ = by1Press_ - dy;
    bx2_ = bx2Press_ - dx;
    by2_ = by2Press_ - dy;
    selRect_ = {std::min(bx1_, bx2_), std::min(by1_, by2_), std::max(bx1_, bx2_), std::max(by1_, by2_)};
    rbLeft_ = selRect_.left;
    rbTop_ = selRect_.top;
    rbRight_ = selRect_.right;
    rbBottom_ = selRect_.bottom;
}

void CGeometricCorrection::SyncSelectionRect()
{
    bx1_ = int(rbLeft_);
    by1_ = int(rbTop_);
    bx2_ = int(rbRight_);
    by2_ = int(rbBottom_);
    selRect_ = {std::min(bx1_, bx2_), std::min(by1_, by2_), std::max(bx1_, bx2_), std::max(by1_, by2_)};
}

// ---------------------------------------------------------------- keys

GridPoint CGeometricCorrection::outputDelta(int key) const
{
    // Output direction of each arrow (left, up, right, down) per rotation mode.
    static constexpr int kDirections[3][4][2] = {
        {{-1, 0}, {0, -1}, {1, 0}, {0, 1}},
        {{0, 1}, {-1, 0}, {0, -1}, {1, 0}},
        {{0, -1}, {1, 0}, {0, 1}, {-1, 0}},
    };
    GridPoint d;
    const uint16_t mode = rotation[currentOutput];
    if (!isArrow(key))
        return d;
    const auto& dir = kDirections[mode <= 2 ? mode : 0][key - kKeyLeft];
    d.x = dir[0] * step;
    d.y = dir[1] * step;
    return d;
}

// Moves the selection (or, with keepOthers, adds to it) to the nearest
// control point from (column, row) in grid direction (dc, dr) that is not
// selected yet when adding.
void CGeometricCorrection::selectNearest(int column, int row, int dc, int dr, bool keepOthers)
{
    WarpGrid& cor = corrected(currentOutput);
    for (int c = column + dc, r = row + dr; c >= 0 && r >= 0 && c < columns() && r < rows(); c += dc, r += dr) {
        GridPoint& p = cor.at(c, r);
        if (!p.active || (keepOthers && p.selected))
            continue;
        if (!keepOthers)
            ClearSelection();
        p.selected = 1;
        return;
    }
}

bool CGeometricCorrection::arrowKey(int key)
{
    WarpGrid& cor = corrected(currentOutput);
    const GridPoint d = outputDelta(key);
    const int dc = d.x > 0 ? 1 : d.x < 0 ? -1 : 0;
    const int dr = d.y > 0 ? 1 : d.y < 0 ? -1 : 0;
    const int selected = CountSelected();
    auto firstSelected = [&](int& c, int& r) {
        for (c = 0; c < columns(); ++c)
            for (r = 0; r < rows(); ++r)
                if (cor.at(c, r).active && cor.at(c, r).selected)
                    return true;
        return false;
    };
    auto moveSelected = [&]() {
        for (std::size_t i = 0; i < WarpGrid::kPoints; ++i) {
            GridPoint& p = cor.points()[i];
            if (p.active && p.selected) {
                p.x += d.x;
                p.y += d.y;
            }
        }
    };
    auto checkStep = [&]() { return canStep(d.x, d.y); };

    bool result = false;
    if (rectActive_ && selected > 0 && !shift_ && !ctrl_) {
        if (checkStep()) {
            moveSelected();
            const double hx = step * canvas.width() / 1920.0, vy = step * canvas.height() / 1080.0;
            const double wx = key == kKeyLeft ? -hx : key == kKeyRight ? hx : 0.0;
            const double wy = key == kKeyUp ? -vy : key == kKeyDown ? vy : 0.0;
            rbLeft_ += wx;
            rbRight_ += wx;
            rbTop_ += wy;
            rbBottom_ += wy;
            SyncSelectionRect();
            result = true;
        }
    } else if (shift_) {
        int c = 0, r = 0;
        if (selected == 1 && firstSelected(c, r))
            selectNearest(c, r, dc, dr, false);
        cycleArmed_ = false;
        result = true;
    } else if (ctrl_) {
        int c = 0, r = 0;
        if (selected == 0) {
            SelectFirstActive();
            result = true;
        } else {
            if (selected == 1 && firstSelected(c, r)) {
                ctrlColumn_ = uint32_t(c);
                ctrlRow_ = uint32_t(r);
            }
            if (ctrlColumn_ == 0 && ctrlRow_ == 0) {
                result = false;  // no anchor: the key does nothing
            } else {
                selectNearest(int(ctrlColumn_), int(ctrlRow_), dc, dr, true);
                result = true;
            }
        }
    } else if (selected > 0) {
        if (checkStep()) {
            moveSelected();
            result = true;
        }
    } else {
        SelectFirstActive();
        result = true;
    }
    InterpolateGrid();
    RefreshViewGrid();
    return result;
}

bool CGeometricCorrection::OnKey(int key, bool pressed)
{
    step = std::clamp(step, 1, 10);
    if (key == kKeyShift) {
        shift_ = pressed;
        return false;
    }
    if (key == kKeyCtrl) {
        ctrl_ = pressed;
        if (!pressed) {
            ctrlColumn_ = 0;
            ctrlRow_ = 0;
        }
        return false;
    }
    if (shapeMode)
        return shapeKey(key);
    WarpGrid& cor = corrected(currentOutput);
    switch (key) {
    case kKeyBackspace:
        ClearSelection();
        selRect_ = {};
        bx1_ = by1_ = bx2_ = by2_ = 0;
        rbLeft_ = rbTop_ = rbRight_ = rbBottom_ = 0;
        rectActive_ = false;
        cycleArmed_ = false;
        ActivateCorrectedPoints();
        RefreshViewGrid();
        return true;
    case kKeyHome:
    case kKeyH: {
        if (cycleArmed_) {
            CycleSelection();
            return true;
        }
        const int selected = CountSelected();
        if (selected == 0) {
            SelectFirstActive();
            cycleState_ = 1;
            cycleArmed_ = true;
        } else if (selected == 1) {
            for (int c = 0; c < columns(); ++c)
                for (int r = 0; r < rows(); ++r)
                    if (cor.at(c, r).active && cor.at(c, r).selected) {
                        anchorColumn_ = uint32_t(c);
                        anchorRow_ = uint32_t(r);
                    }
            cycleState_ = 1;
            cycleArmed_ = true;
            CycleSelection();
        }
        RefreshViewGrid();
        return true;
    }
    case kKeyLeft:
    case kKeyUp:
    case kKeyRight:
    case kKeyDown:
        return arrowKey(key);
    case kKeyPadPlus:
    case kKeyPlus:
    case kKeyPadMinus:
    case kKeyMinus: {
        const bool up = key == kKeyPadPlus || key == kKeyPlus;
        if (up ? cor.spacing >= 64 : cor.spacing < 2)
            return false;
        ClearSelection();
        rectActive_ = false;
        cycleArmed_ = false;
        cor.spacing = up ? uint16_t(std::min(64, cor.spacing * 2)) : uint16_t(std::max(1, cor.spacing / 2));
        ActivateCorrectedPoints();
        RefreshViewGrid();
        return true;
    }
    case kKeyComma:
    case kKeyPeriod: {
        bool changed = false;
        const int count = std::min<int>(config.outputCount, kOutputs);
        for (int i = 0; i < count; ++i) {
            WarpGrid& ref = reference(i);
            if (key == kKeyComma && ref.spacing < 64) {
                ref.spacing = uint16_t(ref.spacing * 2);
                changed = true;
            } else if (key == kKeyPeriod && ref.spacing > 1) {
                ref.spacing = uint16_t(ref.spacing / 2);
                changed = true;
            }
        }
        ActivateReferencePoints();
        return changed;
    }
    default:
        return false;
    }
}

bool CGeometricCorrection::shapeKey(int key)
{
    grid::PixelMap& m = *canvas_;
    switch (key) {
    case kKeyBackspace:
        ClearShapeSelection();
        return true;
    case kKeyPadPlus:
    case kKeyPlus:
    case kKeyPadMinus:
    case kKeyMinus: {
        const bool up = key == kKeyPadPlus || key == kKeyPlus;
        if (up ? m.spacing >= 1024 : m.spacing <= 16)
            return false;
        ClearShapeSelection();
        m.spacing = up ? uint16_t(std::min(1024, m.spacing * 2)) : uint16_t(std::max(16, m.spacing / 2));
        ActivateShapePoints();
        return true;
    }
    default:
        if (isArrow(key))
            return shapeArrow(key);
        return false;
    }
}

bool CGeometricCorrection::shapeArrow(int key)
{
    grid::PixelMap& m = *canvas_;
    const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
    bool changed = false;
    if (shift_) {
        int sc = -1, sr = -1, count = 0;
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rws; ++r)
                if (m.at(c, r).active && m.at(c, r).selected) {
                    sc = c;
                    sr = r;
                    ++count;
                }
        if (count != 1)
            return false;
        const bool horizontal = key == kKeyLeft || key == kKeyRight;
        if (horizontal && sr != 0 && sr != rws - 1)
            return false;
        if (!horizontal && sc != 0 && sc != cols - 1)
            return false;
        const int dc = key == kKeyLeft ? -1 : key == kKeyRight ? 1 : 0;
        const int dr = key == kKeyUp ? -1 : key == kKeyDown ? 1 : 0;
        for (int c = sc + dc, r = sr + dr; c >= 0 && r >= 0 && c < cols && r < rws; c += dc, r += dr) {
            if (m.at(c, r).active) {
                ClearShapeSelection();
                m.at(c, r).selected = 1;
                return true;
            }
        }
        return false;
    }
    const int lastX = std::min(cols - 1, 1920), lastY = std::min(rws - 1, 1080);
    for (int c = 0; c < cols; ++c) {
        for (int r = 0; r < rws; ++r) {
            GridPoint& p = m.at(c, r);
            if (!p.active || !p.selected)
                continue;
            if (key == kKeyLeft && p.x > step) {
                p.x -= step;
                changed = true;
            } else if (key == kKeyUp && p.y >= step) {
                p.y -= step;
                changed = true;
            } else if (key == kKeyRight && p.x + step <= lastX) {
                p.x += step;
                changed = true;
            } else if (key == kKeyDown && p.y + step <= lastY) {
                p.y += step;
                changed = true;
            }
        }
    }
    InterpolateShape();
    return changed;
}

// ---------------------------------------------------------------- mouse

bool CGeometricCorrection::OnButtonDown(unsigned keyFlags, WindowPoint p)
{
    moved_ = false;
    if (shapeMode) {
        ClearShapeSelection();
        grid::PixelMap& m = *canvas_;
        const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
        const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
        for (int c = 0; c < cols; ++c) {
            for (int r = 0; r < rws; ++r) {
                GridPoint& q = m.at(c, r);
                if (!q.active)
                    continue;
                const int wx = int(q.x * shapeXScale + canvas.left), wy = int(q.y * shapeYScale + canvas.top);
                if (std::abs(p.x - wx) <= 5 && std::abs(p.y - wy) <= 5) {
                    q.selected = 1;
                    buttonDown_ = true;
                    return true;
                }
            }
        }
        return false;
    }
    if (keyFlags & kMouseShift) {
        ClearSelection();
        selRect_ = {};
        bx1_ = bx2_ = p.x;
        by1_ = by2_ = p.y;
        buttonDown_ = true;
        RefreshViewGrid();
        return true;
    }
    if (rectActive_) {
        const bool inside = p.x >= selRect_.left && p.x <= selRect_.right && p.y >= selRect_.top &&
                            p.y <= selRect_.bottom;
        if (!inside) {
            ClearSelection();
            rectActive_ = false;
            RefreshViewGrid();
            return true;
        }
        buttonDown_ = true;
        const WarpGrid& cor = corrected(currentOutput);
        for (std::size_t i = 0; i < WarpGrid::kPoints; ++i)
            snapshot_.points()[i] = cor.points()[i];
        pressX_ = p.x;
        pressY_ = p.y;
        bx1Press_ = bx1_;
        by1Press_ = by1_;
        bx2Press_ = bx2_;
        by2Press_ = by2_;
        return true;
    }
    if (!(keyFlags & kMouseCtrl))
        ClearSelection();
    RefreshViewGrid();
    WarpGrid& cor = corrected(currentOutput);
    for (int c = 0; c < columns(); ++c) {
        for (int r = 0; r < rows(); ++r) {
            const GridPoint& v = view_.at(c, r);
            if (!v.active)
                continue;
            const WindowPoint w = windowPos(v);
            if (std::abs(p.x - w.x) <= 5 && std::abs(p.y - w.y) <= 5) {
                cor.at(c, r).selected = 1;
                buttonDown_ = true;
                RefreshViewGrid();
                return true;
            }
        }
    }
    return false;
}

bool CGeometricCorrection::OnMouseMove(unsigned keyFlags, WindowPoint p)
{
    if (!buttonDown_ || shapeMode)
        return false;
    if (keyFlags & kMouseShift) {
        bx2_ = p.x;
        by2_ = p.y;
        return true;
    }
    WarpGrid& cor = corrected(currentOutput);
    const uint16_t mode = rotation[currentOutput];
    const bool rotated = mode == 1 || mode == 2;
    const double sx = rotated ? yScale[currentOutput] : xScale[currentOutput];
    const double sy = rotated ? xScale[currentOutput] : yScale[currentOutput];
    if (sx <= 0.0 || sy <= 0.0)
        return false;
    if (rectActive_) {
        const int wdx = pressX_ - p.x, wdy = pressY_ - p.y;
        const int dx = int(std::trunc(wdx / sx)), dy = int(std::trunc(wdy / sy));
        if (!CanDragSelection(dx, dy))
            return false;
        MoveSelectionRect(wdx, wdy);
        for (int c = 0; c < columns(); ++c) {
            for (int r = 0; r < rows(); ++r) {
                GridPoint& q = cor.at(c, r);
                if (!q.active || !q.selected)
                    continue;
                const GridPoint& s = snapshot_.at(c, r);
                if (mode == 1) {
                    q.x = s.x - dy;
                    q.y = s.y + dx;
                } else if (mode == 2) {
                    q.x = s.x + dy;
                    q.y = s.y - dx;
                } else {
                    q.x = s.x - dx;
                    q.y = s.y - dy;
                }
            }
        }
        moved_ = true;
        RefreshViewGrid();
        return true;
    }
    // The pointer in view coordinates, then back through the rotation.
    const int vx = int(std::trunc((p.x - canvas.left) / sx));
    const int vy = int(std::trunc((p.y - canvas.top) / sy));
    const grid::OutputEntry& e = entry();
    int ox = vx, oy = vy;
    if (mode == 1) {
        const int ey = e.maxY > e.lastY && e.maxY - e.lastY > 1 ? e.maxY - e.lastY : 0;
        ox = vy;
        oy = ey + e.lastY - vx;
    } else if (mode == 2) {
        const int ex = e.maxX > e.lastX && e.maxX - e.lastX > 1 ? e.maxX - e.lastX : 0;
        oy = vx;
        ox = ex + e.lastX - vy;
    }
    for (int c = 0; c < columns(); ++c) {
        for (int r = 0; r < rows(); ++r) {
            GridPoint& q = cor.at(c, r);
            if (!q.active || !q.selected)
                continue;
            if (allowMove(c, r, ox, oy)) {
                q.x = ox;
                q.y = oy;
                moved_ = true;
                RefreshViewGrid();
                return true;
            }
            return false;
        }
    }
    return false;
}

bool CGeometricCorrection::OnButtonUp(unsigned keyFlags, WindowPoint p)
{
    const bool wasDown = buttonDown_;
    buttonDown_ = false;
    if (shapeMode) {
        InterpolateShape();
        return moved_;
    }
    if (keyFlags & kMouseShift) {
        if (wasDown) {
            bx2_ = p.x;
            by2_ = p.y;
        }
        selRect_ = {std::min(bx1_, bx2_), std::min(by1_, by2_), std::max(bx1_, bx2_), std::max(by1_, by2_)};
        rbLeft_ = selRect_.left;
        rbTop_ = selRect_.top;
        rbRight_ = selRect_.right;
        rbBottom_ = selRect_.bottom;
        WarpGrid& cor = corrected(currentOutput);
        for (int c = 0; c < columns(); ++c) {
            for (int r = 0; r < rows(); ++r) {
                const GridPoint& v = view_.at(c, r);
                if (!v.active)
                    continue;
                const WindowPoint w = windowPos(v);
                if (w.x >= selRect_.left && w.x <= selRect_.right && w.y >= selRect_.top && w.y <= selRect_.bottom)
                    cor.at(c, r).selected = 1;
            }
        }
        rectActive_ = true;
        RefreshViewGrid();
        return moved_;
    }
    InterpolateGrid();
    if (!rectActive_)
        bx1_ = by1_ = bx2_ = by2_ = 0;
    RefreshViewGrid();
    return moved_;
}

}  // namespace calib
