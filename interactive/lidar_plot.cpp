#include "interactive/lidar_plot.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cmath>

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
    // Points: one pass that also finds the nearest bearing.
    const QColor cyan(0, 255, 255);
    int best = -1;
    double bestDiff = 100;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const LidarPoint& pt = points[i];
        const double th = double(pt.angle) * M_PI / 180;
        const int x = int(cx + std::sin(th) * pt.distance * scale), y = int(cy - std::cos(th) * pt.distance * scale);
        p.fillRect(x - 1, y - 1, 2, 2, pt.highlighted ? QColor(Qt::red) : cyan);
        const double diff = std::fabs(th - bearing);
        if (diff < bestDiff) {
            bestDiff = diff;
            best = int(i);
        }
    }
    if (best < 0)
        return;
    const LidarPoint& pt = points[std::size_t(best)];
    const double th = double(pt.angle) * M_PI / 180;
    const int x = int(cx + std::sin(th) * pt.distance * scale), y = int(cy - std::cos(th) * pt.distance * scale);
    p.setPen(QPen(QColor(129, 10, 16), 1));
    p.drawLine(cx, cy, x, y);
    p.fillRect(x - 1, y - 1, 2, 2, Qt::red);
    p.setPen(Qt::red);
    const int distance = int(pt.distance);
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
