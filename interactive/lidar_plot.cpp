#include "interactive/lidar_plot.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lidar {

void DrawLidarPlot(QPainter& p, int w, int h, float zoom, const std::vector<LidarPoint>& points, double bearing,
                   PickedPoint* picked, unsigned language)
{
    p.fillRect(0, 0, w, h, Qt::black);
    const int cx = w / 2, cy = h / 2 + 20;
    const int rmax = std::min(w, h) / 2 - 20;
    if (rmax <= 0)
        return;
    const double scale = double(rmax) / double(zoom);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(14);
    p.setFont(font);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    const QFontMetrics fm(font);
    auto centred = [&](int x, int y, const QString& text) { p.drawText(x - fm.horizontalAdvance(text) / 2, y, text); };
    for (int a = 0; a < 360; a += 30) {
        const double r = a * M_PI / 180;
        const int x = int(cx + std::sin(r) * (rmax + 10)), y = int(cy - std::cos(r) * (rmax + 10));
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.drawLine(cx, cy, x, y);
        p.setPen(QColor(90, 90, 90));
        centred(x, y, QString::number(a));
    }
    for (int r = rmax; r >= 1; r -= 100) {
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.drawEllipse(QPoint(cx, cy), r, r);
        p.setPen(QColor(90, 90, 90));
        centred(cx, cy - r, QString::asprintf("%.1f", r / scale));
    }
    // Points: one pass that also finds the nearest bearing. A point whose
    // position does not fit an int is neither drawn nor picked; the test is
    // made on the double, before any conversion.
    const QColor cyan(0, 255, 255);
    auto position = [&](const LidarPoint& pt, QPoint& at) {
        if (!(pt.distance >= 0 && pt.distance < kDistanceLimit))  // NaN fails too
            return false;
        const double th = double(pt.angle) * M_PI / 180;
        const double r = double(pt.distance) * scale;
        const double x = cx + std::sin(th) * r, y = cy - std::cos(th) * r;
        constexpr double kLimit = double(std::numeric_limits<int>::max()) - 2;  // room for the 2 x 2 square
        if (!(std::fabs(x) <= kLimit) || !(std::fabs(y) <= kLimit))
            return false;
        at = QPoint(int(x), int(y));
        return true;
    };
    int best = -1;
    double bestDiff = 100;
    QPoint bestAt;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const LidarPoint& pt = points[i];
        QPoint at;
        if (!position(pt, at))
            continue;
        p.fillRect(at.x() - 1, at.y() - 1, 2, 2, pt.highlighted ? QColor(Qt::red) : cyan);
        const double diff = std::fabs(double(pt.angle) * M_PI / 180 - bearing);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = int(i);
            bestAt = at;
        }
    }
    if (best < 0)
        return;
    const LidarPoint& pt = points[std::size_t(best)];
    const int x = bestAt.x(), y = bestAt.y();
    p.setPen(QPen(QColor(129, 10, 16), 1));
    p.drawLine(cx, cy, x, y);
    p.fillRect(x - 1, y - 1, 2, 2, Qt::red);
    p.setPen(Qt::red);
    const int distance = int(pt.distance);  // below 2^31: checked above
    const QString label = language == 4 ? QString::asprintf("当前: %d 角度: %.2f", distance, double(pt.angle))
                                        : QString::asprintf("Current: %d Deg: %.2f", distance, double(pt.angle));
    // Centred on x 90 as the view has always placed it, but never cut at the left edge.
    p.drawText(std::max(2, 90 - fm.horizontalAdvance(label) / 2), 25, label);
    if (picked) {
        picked->present = true;
        picked->distance = uint32_t(distance);
        picked->angle = double(pt.angle);
    }
}

}  // namespace lidar
