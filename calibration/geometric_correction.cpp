#include "calibration/geometric_correction.h"

#include <algorithm>
#include <cmath>

namespace calib {

using grid::GridPoint;
using grid::WarpGrid;

namespace {

// An every-Nth line: the outer lines always qualify and the pattern is
// symmetric about the middle.
bool qualifies(int index, int count, int n)
{
    if (n < 1)
        n = 1;
    return index < count / 2 ? index % n == 0 : (count - index - 1) % n == 0;
}

int32_t clampToInt(double v)
{
    return int32_t(std::clamp(v, -1.0e9, 1.0e9));
}

}  // namespace

CGeometricCorrection::CGeometricCorrection()
    : canvas_(std::make_unique<grid::PixelMap>()), channelMap_(std::make_unique<ChannelMap>()),
      cells_(std::size_t(WarpGrid::kPoints))
{
    for (int i = 0; i < kOutputs; ++i) {
        reference_[std::size_t(i)] = std::make_unique<WarpGrid>();
        corrected_[std::size_t(i)] = std::make_unique<WarpGrid>();
    }
    xScale.fill(1.0);
    yScale.fill(1.0);
}

CGeometricCorrection::~CGeometricCorrection() = default;

int CGeometricCorrection::columns() const
{
    return std::min<int>(entry().gridColumns, WarpGrid::kColumns);
}

int CGeometricCorrection::rows() const
{
    return std::min<int>(entry().gridRows, WarpGrid::kRows);
}

void CGeometricCorrection::activate(WarpGrid& g, int cols, int rws)
{
    const int n = std::clamp<int>(g.spacing, 1, 64);
    for (int c = 0; c < cols; ++c) {
        const bool cq = qualifies(c, cols, n);
        for (int r = 0; r < rws; ++r)
            g.at(c, r).active = uint8_t(cq && qualifies(r, rws, n));
    }
}

void CGeometricCorrection::ActivateReferencePoints()
{
    activate(reference(currentOutput), columns(), rows());
}

void CGeometricCorrection::ActivateCorrectedPoints()
{
    activate(corrected(currentOutput), columns(), rows());
}

void CGeometricCorrection::ActivateShapePoints()
{
    grid::PixelMap& m = *canvas_;
    const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
    const int n = std::max<int>(1, m.spacing);
    for (int c = 0; c < cols; ++c) {
        const bool cq = qualifies(c, cols, n);
        for (int r = 0; r < rws; ++r)
            m.at(c, r).active = uint8_t(cq && qualifies(r, rws, n));
    }
    m.at(cols - 1, 0).active = 1;
    m.at(0, rws - 1).active = 1;
    m.at(cols - 1, rws - 1).active = 1;
}

void CGeometricCorrection::ResetGrids(uint16_t layoutCode)
{
    rotation.fill(0);
    for (int i = 0; i < kOutputs; ++i) {
        const grid::OutputEntry& e = config.outputs[std::size_t(i)];
        if (e.screenIndex == 0)
            rotation[std::size_t(i)] = layoutCode & 0x0F;
        else if (e.screenIndex == 1)
            rotation[std::size_t(i)] = (layoutCode >> 4) & 0x0F;
    }
    for (int i = 0; i < kOutputs; ++i) {
        grid::OutputEntry& e = config.outputs[std::size_t(i)];
        WarpGrid& ref = reference(i);
        WarpGrid& cor = corrected(i);
        ref.spacing = 2;
        cor.spacing = 2;
        // An unused entry (no width or height) would divide by zero.
        if (e.lastX == 0 || e.lastY == 0)
            continue;
        const double w1 = e.lastX, h1 = e.lastY;
        const double cw = w1 / 64.0, ch = h1 / 32.0;
        const int cols = std::clamp(int(std::trunc(w1 / cw)) + 1, 1, WarpGrid::kColumns);
        const int rws = std::clamp(int(std::trunc(h1 / ch)) + 1, 1, WarpGrid::kRows);
        e.gridColumns = uint16_t(cols);
        e.gridRows = uint16_t(rws);
        const double restX = std::fmod(w1, cw), restY = std::fmod(h1, ch);
        for (int c = 0; c < cols; ++c) {
            const double x = c * cw + (c >= w1 / cw / 2 + 1 ? restX : 0.0);
            for (int r = 0; r < rws; ++r) {
                const double y = r * ch + (r >= h1 / ch / 2 + 1 ? restY : 0.0);
                GridPoint p;
                p.x = int32_t(std::trunc(x));
                p.y = int32_t(std::trunc(y));
                ref.at(c, r) = p;
                cor.at(c, r) = p;
            }
        }
        cor.at(0, 0).active = 1;
        cor.at(cols - 1, 0).active = 1;
        cor.at(0, rws - 1).active = 1;
        cor.at(cols - 1, rws - 1).active = 1;
    }
    ActivateReferencePoints();
    ActivateCorrectedPoints();
    const int count = std::min<int>(config.outputCount, kOutputs);
    for (int i = 0; i < count; ++i) {
        currentOutput = uint16_t(i);
        const uint16_t mode = rotation[std::size_t(i)];
        const double factor = mode == 1 || mode == 2 ? 0.5 : 1.0;
        xScale[std::size_t(i)] = canvas.width() / 1920.0 * factor;
        yScale[std::size_t(i)] = canvas.height() / 1080.0 * factor;
        if (mode > 2)
            continue;
        const grid::OutputEntry& e = entry();
        if (e.lastX == 0 || e.lastY == 0)
            continue;
        WarpGrid& cor = corrected(i);
        const int cl = columns() - 1, rl = rows() - 1;
        GridPoint& tl = cor.at(0, 0);
        GridPoint& tr = cor.at(cl, 0);
        GridPoint& bl = cor.at(0, rl);
        GridPoint& br = cor.at(cl, rl);
        const GridPoint otl = tl, otr = tr, obl = bl, obr = br;
        auto take = [](GridPoint& to, const GridPoint& from) {
            to.x = from.x;
            to.y = from.y;
        };
        if (mode == 1) {
            take(tl, obl);
            take(bl, obr);
            take(br, otr);
            take(tr, otl);
        } else if (mode == 2) {
            take(tl, otr);
            take(bl, otl);
            take(br, obl);
            take(tr, obr);
        }
        cor.spacing = 64;
        ActivateCorrectedPoints();
        InterpolateGrid();
    }
    currentOutput = 0;
    RefreshViewGrid();
}

GridPoint CGeometricCorrection::MapReferencePoint(const Quad& rq, const Quad& cq, int32_t x, int32_t y)
{
    GridPoint fallback;
    fallback.x = x;
    fallback.y = y;
    const double rw = double(rq.x[1]) - rq.x[0];
    const double rh = double(rq.y[2]) - rq.y[0];
    if (rw == 0.0 || rh == 0.0)
        return fallback;
    const double u = (x - double(rq.x[0])) / rw;
    const double v = (y - double(rq.y[0])) / rh;
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double tx = lerp(cq.x[0], cq.x[1], u), ty = lerp(cq.y[0], cq.y[1], u);
    const double bx = lerp(cq.x[2], cq.x[3], u), by = lerp(cq.y[2], cq.y[3], u);
    const double lx = lerp(cq.x[0], cq.x[2], v), ly = lerp(cq.y[0], cq.y[2], v);
    const double qx = lerp(cq.x[1], cq.x[3], v), qy = lerp(cq.y[1], cq.y[3], v);
    const bool tbVertical = bx == tx;
    const bool lrVertical = lx == qx;
    double rx = 0, ry = 0;
    if (tbVertical && lrVertical) {
        return fallback;  // both lines vertical: no single crossing
    } else if (tbVertical) {
        const double m2 = (ly - qy) / (lx - qx);
        rx = tx;
        ry = m2 * (rx - lx) + ly;
    } else if (lrVertical) {
        const double m1 = (by - ty) / (bx - tx);
        rx = lx;
        ry = m1 * (rx - tx) + ty;
    } else {
        const double m1 = (by - ty) / (bx - tx);
        const double m2 = (ly - qy) / (lx - qx);
        if (m1 == m2)
            return fallback;  // parallel lines: a degenerate cell
        const double k1 = ty - m1 * tx;
        const double k2 = ly - m2 * lx;
        rx = (k2 - k1) / (m1 - m2);
        ry = m1 * rx + k1;
    }
    if (!std::isfinite(rx) || !std::isfinite(ry))
        return fallback;
    GridPoint out;
    out.x = clampToInt(roundHalfAway(rx));
    out.y = clampToInt(roundHalfAway(ry));
    return out;
}

void CGeometricCorrection::InterpolateGrid()
{
    if (shapeMode) {
        InterpolateShape();
        return;
    }
    WarpGrid& ref = reference(currentOutput);
    WarpGrid& cor = corrected(currentOutput);
    const int cols = columns(), rws = rows();
    std::vector<int> latticeRows;
    for (int r = 0; r < rws; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (cor.at(c, r).active) {
                latticeRows.push_back(r);
                break;
            }
        }
    }
    for (std::size_t k = 0; k + 1 < latticeRows.size(); ++k) {
        const int r0 = latticeRows[k], r1 = latticeRows[k + 1];
        int c0 = -1;
        for (int c = 0; c < cols; ++c) {
            if (!cor.at(c, r0).active)
                continue;
            if (c0 >= 0) {
                const int c1 = c;
                Cell& cell = cells_[WarpGrid::index(c0, r0)];
                const int cs[4] = {c0, c1, c0, c1};
                const int rs[4] = {r0, r0, r1, r1};
                for (std::size_t i = 0; i < 4; ++i) {
                    cell.reference.x[i] = ref.at(cs[i], rs[i]).x;
                    cell.reference.y[i] = ref.at(cs[i], rs[i]).y;
                    cell.corrected.x[i] = cor.at(cs[i], rs[i]).x;
                    cell.corrected.y[i] = cor.at(cs[i], rs[i]).y;
                }
                for (int cc = c0; cc <= c1; ++cc) {
                    for (int rr = r0; rr <= r1; ++rr) {
                        if ((cc == c0 || cc == c1) && (rr == r0 || rr == r1))
                            continue;  // the corners are the control points themselves
                        const GridPoint& rp = ref.at(cc, rr);
                        GridPoint m = MapReferencePoint(cell.reference, cell.corrected, rp.x, rp.y);
                        // A point with any negative coordinate falls back to
                        // its reference position, not only one with two.
                        if (m.x < 0 || m.y < 0) {
                            m.x = rp.x;
                            m.y = rp.y;
                        }
                        GridPoint& cp = cor.at(cc, rr);
                        cp.x = m.x;
                        cp.y = m.y;
                    }
                }
            }
            c0 = c;
        }
    }
}

void CGeometricCorrection::RefreshViewGrid()
{
    const WarpGrid& cor = corrected(currentOutput);
    const grid::OutputEntry& e = entry();
    const uint16_t mode = rotation[currentOutput];
    const int ey = e.maxY > e.lastY && e.maxY - e.lastY > 1 ? e.maxY - e.lastY : 0;
    const int ex = e.maxX > e.lastX && e.maxX - e.lastX > 1 ? e.maxX - e.lastX : 0;
    for (std::size_t i = 0; i < WarpGrid::kPoints; ++i) {
        const GridPoint& p = cor.points()[i];
        GridPoint& v = view_.points()[i];
        v = p;
        if (mode == 1) {
            v.x = ey + e.lastY - p.y;
            v.y = p.x;
        } else if (mode == 2) {
            v.x = p.y;
            v.y = ex + e.lastX - p.x;
        }
    }
    view_.spacing = cor.spacing;
}

WindowPoint CGeometricCorrection::windowPos(const GridPoint& v) const
{
    const uint16_t mode = rotation[currentOutput];
    const double sx = mode == 1 || mode == 2 ? yScale[currentOutput] : xScale[currentOutput];
    const double sy = mode == 1 || mode == 2 ? xScale[currentOutput] : yScale[currentOutput];
    return {clampToInt(std::trunc(canvas.left + v.x * sx)), clampToInt(std::trunc(canvas.top + v.y * sy))};
}

// ---------------------------------------------------------------- selection

void CGeometricCorrection::ClearSelection()
{
    WarpGrid& cor = corrected(currentOutput);
    for (std::size_t i = 0; i < WarpGrid::kPoints; ++i)
        cor.points()[i].selected = 0;
}

void CGeometricCorrection::ClearShapeSelection()
{
    grid::PixelMap& m = *canvas_;
    for (std::size_t i = 0; i < grid::PixelMap::kPoints; ++i)
        m.points()[i].selected = 0;
}

int CGeometricCorrection::CountSelected() const
{
    int n = 0;
    if (shapeMode) {
        const grid::PixelMap& m = *canvas_;
        for (std::size_t i = 0; i < grid::PixelMap::kPoints; ++i)
            n += m.points()[i].active && m.points()[i].selected;
        return n;
    }
    const WarpGrid& cor = corrected(currentOutput);
    for (std::size_t i = 0; i < WarpGrid::kPoints; ++i)
        n += cor.points()[i].active && cor.points()[i].selected;
    return n;
}

void CGeometricCorrection::SelectFirstActive()
{
    WarpGrid& cor = corrected(currentOutput);
    for (std::size_t i = 0; i < WarpGrid::kPoints; ++i) {
        if (cor.points()[i].active) {
            cor.points()[i].selected = 1;
            return;
        }
    }
}

void CGeometricCorrection::CycleSelection()
{
    ClearSelection();
    WarpGrid& cor = corrected(currentOutput);
    const int cols = columns(), rws = rows();
    const int ac = int(std::min<uint32_t>(anchorColumn_, WarpGrid::kColumns - 1));
    const int ar = int(std::min<uint32_t>(anchorRow_, WarpGrid::kRows - 1));
    auto selectIf = [](GridPoint& p) {
        if (p.active)
            p.selected = 1;
    };
    switch (cycleState_) {
    case 0:
        selectIf(cor.at(ac, ar));
        cycleState_ = 1;
        break;
    case 1:
        for (int c = 0; c < cols; ++c)
            selectIf(cor.at(c, ar));
        cycleState_ = 2;
        break;
    case 2:
        for (int r = 0; r < rws; ++r)
            selectIf(cor.at(ac, r));
        cycleState_ = 3;
        break;
    default:
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rws; ++r)
                selectIf(cor.at(c, r));
        cycleState_ = 0;
        break;
    }
    InterpolateGrid();
    RefreshViewGrid();
}

// ---------------------------------------------------------------- shapes

void CGeometricCorrection::ResetShapes()
{
    for (int s = 0; s < kSets; ++s) {
        const grid::ScreenRect& sr = config.screens[std::size_t(s)];
        int w = (sr.width + 1) / 2, h = (sr.height + 1) / 2;
        double xs = 1.0, ys = 1.0;
        if (w > grid::PixelMap::kColumns) {
            xs = w / 1920.0;
            w = grid::PixelMap::kColumns;
        }
        if (h > grid::PixelMap::kRows) {
            ys = h / 1080.0;
            h = grid::PixelMap::kRows;
        }
        // A shape of no width or height has no last column or row to edit.
        w = std::max(w, 1);
        h = std::max(h, 1);
        grid::PixelMap& m = *canvas_;
        m.Reset();
        m.columnsInUse = uint16_t(w);
        m.rowsInUse = uint16_t(h);
        m.xScale = xs;
        m.yScale = ys;
        for (int c = 0; c < w; ++c) {
            for (int r = 0; r < h; ++r) {
                m.at(c, r).x = c;
                m.at(c, r).y = r;
            }
        }
        ActivateShapePoints();
        for (int i = 0; i < ShapeSet::kShapes; ++i) {
            CustomShape& shape = sets_[std::size_t(s)].shapes[std::size_t(i)];
            std::fill(shape.points.begin(), shape.points.end(), GridPoint());
            shape.width = uint16_t(w);
            shape.height = uint16_t(h);
            shape.xScale = xs;
            shape.yScale = ys;
            shape.flag = 0;
            StoreShape(s, i);
        }
        sets_[std::size_t(s)].current = 0;
    }
    shapeXScale = canvas.width() / 1920.0;
    shapeYScale = canvas.height() / 1080.0;
    shapeMode = false;
    currentSet = 0;
}

void CGeometricCorrection::LoadShape(int set, int index)
{
    if (set < 0 || set >= kSets || index < 0 || index >= ShapeSet::kShapes)
        return;
    const CustomShape& shape = sets_[std::size_t(set)].shapes[std::size_t(index)];
    grid::PixelMap& m = *canvas_;
    m.Reset();
    const int cols = std::clamp<int>(shape.width, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(shape.height, 1, grid::PixelMap::kRows);
    m.columnsInUse = uint16_t(cols);
    m.rowsInUse = uint16_t(rws);
    m.xScale = shape.xScale;
    m.yScale = shape.yScale;
    m.spacing = shape.spacing;
    for (int c = 0; c < cols; ++c) {
        m.at(c, 0) = shape.edge(CustomShape::kEdgeTop, c);
        m.at(c, rws - 1) = shape.edge(CustomShape::kEdgeBottom, c);
    }
    for (int r = 0; r < rws; ++r) {
        m.at(0, r) = shape.edge(CustomShape::kEdgeLeft, r);
        m.at(cols - 1, r) = shape.edge(CustomShape::kEdgeRight, r);
    }
}

void CGeometricCorrection::StoreShape(int set, int index)
{
    if (set < 0 || set >= kSets || index < 0 || index >= ShapeSet::kShapes)
        return;
    CustomShape& shape = sets_[std::size_t(set)].shapes[std::size_t(index)];
    const grid::PixelMap& m = *canvas_;
    const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
    shape.width = uint16_t(cols);
    shape.height = uint16_t(rws);
    shape.xScale = m.xScale;
    shape.yScale = m.yScale;
    shape.spacing = m.spacing;
    for (int c = 0; c < cols; ++c) {
        shape.edge(CustomShape::kEdgeTop, c) = m.at(c, 0);
        shape.edge(CustomShape::kEdgeBottom, c) = m.at(c, rws - 1);
    }
    for (int r = 0; r < rws; ++r) {
        shape.edge(CustomShape::kEdgeLeft, r) = m.at(0, r);
        shape.edge(CustomShape::kEdgeRight, r) = m.at(cols - 1, r);
    }
}

void CGeometricCorrection::InterpolateShape()
{
    grid::PixelMap& m = *canvas_;
    if (m.spacing < 17)
        return;
    const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
    const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
    // Points between two consecutive active points along one edge lie evenly
    // on the straight line between them.
    auto line = [&](int count, auto at) {
        int prev = -1;
        for (int k = 0; k < count; ++k) {
            if (!at(k).active)
                continue;
            if (prev >= 0 && k - prev > 1) {
                const GridPoint a = at(prev), b = at(k);
                const int d = k - prev;
                for (int j = 1; j < d; ++j) {
                    GridPoint& p = at(prev + j);
                    p.x = clampToInt(roundHalfAway(a.x + double(b.x - a.x) * j / d));
                    p.y = clampToInt(roundHalfAway(a.y + double(b.y - a.y) * j / d));
                }
            }
            prev = k;
        }
    };
    line(cols, [&](int k) -> GridPoint& { return m.at(k, 0); });
    line(cols, [&](int k) -> GridPoint& { return m.at(k, rws - 1); });
    line(rws, [&](int k) -> GridPoint& { return m.at(0, k); });
    line(rws, [&](int k) -> GridPoint& { return m.at(cols - 1, k); });
}

QString refusedFileMessage(const QString& fileName, int language)
{
    if (language == 4)
        return QStringLiteral("文件 %1 已损坏或与当前输出不符，未读取。").arg(fileName);
    return QStringLiteral("The file %1 is damaged or does not match the current outputs; it was not read.")
        .arg(fileName);
}

}  // namespace calib
