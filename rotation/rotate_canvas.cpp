#include "rotation/rotate_canvas.h"

#include "platform/home.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QPolygon>

#include <cmath>

namespace rotation {

namespace {

QPolygon polygon(const QuadI& q, double /*unused*/ = 0)
{
    QPolygon p;
    for (const PointI& c : q)
        p << QPoint(c.x, c.y);
    return p;
}

// The monitor picture of a used slot: a dark screen in a grey bezel on a foot.
void drawMonitor(QPainter& painter, const QRect& cell)
{
    painter.save();
    const int footHeight = std::max(3, cell.height() / 6);
    const QRect body(cell.left(), cell.top(), cell.width(), cell.height() - footHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x50, 0x50, 0x50));
    painter.drawRect(body);
    painter.setBrush(QColor(0x20, 0x60, 0xA0));
    painter.drawRect(body.adjusted(2, 2, -2, -2));
    painter.setBrush(QColor(0x50, 0x50, 0x50));
    const int footWidth = std::max(4, cell.width() / 3);
    painter.drawRect(QRect(cell.center().x() - footWidth / 2, body.bottom() + 1, footWidth, footHeight));
    painter.restore();
}

}  // namespace

QFont LabelFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(14);
    font.setWeight(QFont::Weight(600));
    return font;
}

void DrawCanvas(QPainter& painter, const WallScreen& wall, QSize size)
{
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    if (wall.Display) {
        if (wall.BackgroundSelected) {
            painter.setPen(QPen(Qt::red, 1, Qt::DashLine));
            painter.setBrush(Qt::NoBrush);
            for (const RectI& r : wall.HandleRects)
                painter.drawRect(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)));
        } else {
            painter.setPen(QPen(Qt::blue, 1, Qt::DashLine));
            painter.setBrush(Qt::white);
            painter.drawPolygon(polygon(wall.BackgroundPolygon));
        }
    }
    const double s = wall.scale();
    painter.setFont(LabelFont());
    for (const WallOutput& o : wall.outputs) {
        if (!o.Display)
            continue;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawPolygon(polygon(o.FramePolygon), Qt::WindingFill);
        painter.setBrush(o.Selected ? QColor(255, 0, 0) : QColor(0, 255, 0));
        painter.drawPolygon(polygon(o.ScreenPolygon), Qt::WindingFill);
        painter.save();
        painter.translate(TruncToInt(o.CentreX * s), TruncToInt(o.CentreY * s));
        // The label turns with the display: clockwise by the whole degrees
        // of the accumulated angle.
        painter.rotate(double(TruncToInt(std::fmod(o.FontAngle, 360.0))));
        painter.setPen(Qt::black);
        const QFontMetrics metrics(painter.font());
        painter.drawText(QPoint(0, metrics.ascent()), QString::number(int(o.Channel) + 1));
        painter.restore();
    }
    painter.restore();
}

void DrawSlotRow(QPainter& painter, const DeviceBlock& block, QSize size)
{
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), size), QApplication::palette().color(QPalette::Button));
    const int cell = size.width() / kSlotCount;
    for (int k = 0; k < kSlotCount; ++k) {
        if (!block.slot[std::size_t(k)].used())
            continue;
        drawMonitor(painter, QRect(k * cell + 2, 2, cell - 3, size.height() - 4));
    }
    painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, size.width() - 1, size.height() - 1));
    for (int k = 1; k < kSlotCount; ++k)
        painter.drawLine(k * cell, 0, k * cell, size.height() - 1);
    painter.restore();
}

QString SlotTooltip(const OutputDevice& d, unsigned language)
{
    const QString format = platform::pickText(
        language, "Manufacturer:%1\nModel:%2\nScreen:%3 X %4\nBezelLeft:%5\nBezelRight:%6\nBezelTop:%7\nBezelBottom:%8\n",
        "制造商:%1\n型号:%2\n显示区域:%3 X %4\n左边框:%5\n右边框:%6\n上边框:%7\n下边框:%8\n");
    auto n = [](double v) { return QString::asprintf("%.02f", v); };
    return format.arg(d.Manufacturer, d.Model, n(d.ScreenWidth), n(d.ScreenHeight), n(d.BezelLeft), n(d.BezelRight),
                      n(d.BezelTop), n(d.BezelBottom));
}

}  // namespace rotation
