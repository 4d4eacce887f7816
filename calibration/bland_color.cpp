#include "calibration/bland_color.h"

#include "calibration/player_requests.h"
#include "platform/app_identity.h"

#include <QColorDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace {

QColor toQColor(calib::ColourRef c)
{
    return QColor(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
}

}  // namespace

const std::array<CBlandColor::Swatch, 8>& CBlandColor::Swatches()
{
    using calib::Rgb;
    static const std::array<Swatch, 8> swatches{{
        {{297, 161, 497, 261}, Rgb(255, 0, 0)},
        {{497, 161, 697, 261}, Rgb(0, 255, 0)},
        {{697, 161, 897, 261}, Rgb(0, 0, 255)},
        {{897, 161, 1097, 261}, Rgb(255, 255, 255)},
        {{297, 261, 497, 361}, Rgb(0, 0, 0)},
        {{497, 261, 697, 361}, Rgb(255, 255, 0)},
        {{697, 261, 897, 361}, Rgb(255, 0, 255)},
        {{897, 261, 1097, 361}, Rgb(0, 255, 255)},
    }};
    return swatches;
}

CBlandColor::CBlandColor(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("325"));
    const bool chinese = platform::appLanguage() == 4;
    auto* custom = new QPushButton(chinese ? QStringLiteral("自定义颜色") : QStringLiteral("Custom Color "), this);
    custom->setObjectName(QStringLiteral("2401"));
    custom->setGeometry(297, 381, 160, 30);
    connect(custom, &QPushButton::clicked, this, &CBlandColor::OnCustomColour);
    chooseColour = [this]() -> std::optional<QColor> {
        const QColor c = QColorDialog::getColor(Qt::black, this);
        if (!c.isValid())
            return std::nullopt;
        return c;
    };
    replyTimeout_.setSingleShot(true);
    replyTimeout_.setInterval(kReplyTimeoutMs);
    // A player that never answers must not leave the page refusing clicks.
    connect(&replyTimeout_, &QTimer::timeout, this, [this] {
        busy_ = false;
        waiting_ = false;
    });
}

CBlandColor::~CBlandColor() = default;

QSize CBlandColor::sizeHint() const
{
    return QSize(1140, 430);
}

void CBlandColor::SendTestColour(calib::ColourRef colour)
{
    if (busy_)
        return;
    // Busy only when the request went out: a page whose request was dropped
    // would otherwise wait for a reply that cannot come.
    if (!calib::SendPacket(calib::BuildSolidColourPacket(sequence_, colour), calib::DevicesOf(players)))
        return;
    busy_ = true;
    waiting_ = true;
    replyTimeout_.start();
}

void CBlandColor::SendAdjustEnd()
{
    calib::SendPacket(calib::BuildAdjustModePacket(sequence_, 1), calib::DevicesOf(players));
    sequence_ = 0;
    waiting_ = false;
}

void CBlandColor::OnColourReply()
{
    ++sequence_;
    busy_ = false;
    waiting_ = false;
    replyTimeout_.stop();
}

void CBlandColor::OnCustomColour()
{
    if (!chooseColour)
        return;
    if (const std::optional<QColor> c = chooseColour())
        SendTestColour(calib::Rgb(uint8_t(c->red()), uint8_t(c->green()), uint8_t(c->blue())));
}

void CBlandColor::OnLButtonDown(int x, int y)
{
    // The checkerboard lies on swatch 4, so a click on it sends black.
    for (const Swatch& s : Swatches())
        if (geom::RectHitTest(s.rect, x, y))
            SendTestColour(s.colour);
}

void CBlandColor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint().x(), event->position().toPoint().y());
    QWidget::mousePressEvent(event);
}

void CBlandColor::keyPressEvent(QKeyEvent* event)
{
    event->accept();  // the page reacts to no keys
}

void CBlandColor::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void CBlandColor::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawBlandColor(painter);
}

void DrawBlandColor(QPainter& painter)
{
    painter.save();
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRect(QPoint(296, 160), QPoint(1097, 361)));
    painter.setPen(Qt::NoPen);
    const auto& swatches = CBlandColor::Swatches();
    for (std::size_t i = 0; i < swatches.size(); ++i) {
        if (int(i) == CBlandColor::kGridSwatch)
            continue;
        const geom::RectI& r = swatches[i].rect;
        painter.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), toQColor(swatches[i].colour));
    }
    const geom::RectI& g = swatches[CBlandColor::kGridSwatch].rect;
    for (int c = 0; c < 10; ++c)
        for (int r = 0; r < 10; ++r)
            painter.fillRect(QRect(g.left + 20 * c, g.top + 10 * r, 20, 10),
                             toQColor((c + r) % 2 == 0 ? CBlandColor::kGridLight : CBlandColor::kGridDark));
    painter.restore();
}
