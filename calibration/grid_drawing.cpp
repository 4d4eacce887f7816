// Painting of the grid-warp model: size label, grid lines, point circles and
// the rubber band.
#include "calibration/geometric_correction.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace calib {

using grid::GridPoint;

namespace {

const QColor kBlue(0, 0, 255);
// The menu colour unselected points are filled with.
const QColor kMenuColour(240, 240, 240);

void drawPoint(QPainter& painter, int x, int y, bool selected)
{
    painter.setBrush(selected ? kBlue : kMenuColour);
    painter.drawEllipse(QRect(QPoint(x - 5, y - 5), QPoint(x + 5, y + 5)));
}

}  // namespace

QString CGeometricCorrection::SizeLabel() const
{
    if (shapeMode)
        return QString::asprintf("%d", int(canvas_->spacing));
    const grid::OutputEntry& e = entry();
    const double w = e.lastX + 1.0, h = e.lastY + 1.0;
    const double s = corrected(currentOutput).spacing;
    return QString::asprintf("%0.2f/%0.2f", std::min(w, w / 64 * s), std::min(h, h / 32 * s));
}

void CGeometricCorrection::Draw(QPainter& painter) const
{
    painter.save();
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(35);
    painter.setFont(font);
    painter.setPen(kBlue);
    const QRect label(canvas.left + (canvas.width() - 400) / 2, canvas.top + (canvas.height() - 50) / 2, 400, 50);
    painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, SizeLabel());
    painter.restore();

    painter.save();
    if (shapeMode) {
        const grid::PixelMap& m = *canvas_;
        const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
        const int rws = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
        auto pos = [&](const GridPoint& p) {
            return QPoint(int(canvas.left + p.x * shapeXScale), int(canvas.top + p.y * shapeYScale));
        };
        auto edge = [&](int count, auto at) {
            QPoint prev;
            bool have = false;
            for (int k = 0; k < count; ++k) {
                const GridPoint& p = at(k);
                if (!p.active)
                    continue;
                if (have)
                    painter.drawLine(prev, pos(p));
                prev = pos(p);
                have = true;
            }
        };
        edge(cols, [&](int k) -> const GridPoint& { return m.at(k, 0); });
        edge(cols, [&](int k) -> const GridPoint& { return m.at(k, rws - 1); });
        edge(rws, [&](int k) -> const GridPoint& { return m.at(0, k); });
        edge(rws, [&](int k) -> const GridPoint& { return m.at(cols - 1, k); });
        auto circles = [&](int count, auto at) {
            for (int k = 0; k < count; ++k) {
                const GridPoint& p = at(k);
                if (p.active)
                    drawPoint(painter, pos(p).x(), pos(p).y(), p.selected);
            }
        };
        circles(cols, [&](int k) -> const GridPoint& { return m.at(k, 0); });
        circles(cols, [&](int k) -> const GridPoint& { return m.at(k, rws - 1); });
        circles(rws, [&](int k) -> const GridPoint& { return m.at(0, k); });
        circles(rws, [&](int k) -> const GridPoint& { return m.at(cols - 1, k); });
    } else {
        const int cols = columns(), rws = rows();
        // Control points joined along one row or one column.
        auto polyline = [&](int count, auto at) {
            bool have = false;
            WindowPoint prev;
            for (int k = 0; k < count; ++k) {
                const GridPoint& v = at(k);
                if (!v.active)
                    continue;
                const WindowPoint w = windowPos(v);
                if (have)
                    painter.drawLine(prev.x, prev.y, w.x, w.y);
                prev = w;
                have = true;
            }
        };
        for (int r = 0; r < rws; ++r)
            polyline(cols, [&](int c) -> const GridPoint& { return view_.at(c, r); });
        for (int c = 0; c < cols; ++c)
            polyline(rws, [&](int r) -> const GridPoint& { return view_.at(c, r); });
        for (int c = 0; c < cols; ++c) {
            for (int r = 0; r < rws; ++r) {
                const GridPoint& v = view_.at(c, r);
                if (!v.active)
                    continue;
                const WindowPoint w = windowPos(v);
                drawPoint(painter, w.x, w.y, v.selected);
            }
        }
    }
    painter.restore();

    if (shift_ || rectActive_) {
        painter.save();
        painter.setPen(QPen(kBlue, 1));
        painter.setBrush(Qt::NoBrush);
        const QPoint a(bx1_, by1_), b(bx2_, by1_), c(bx2_, by2_), d(bx1_, by2_);
        painter.drawLine(a, b);
        painter.drawLine(b, c);
        painter.drawLine(c, d);
        painter.drawLine(d, a);
        painter.restore();
    }
}

}  // namespace calib
