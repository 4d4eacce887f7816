#include "common/controls/text_progress_ctrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent)
{
    const QPalette pal = palette();
    barColour_ = pal.color(QPalette::Highlight);
    backgroundColour_ = pal.color(QPalette::Base);
    textOverBar_ = pal.color(QPalette::Base);
    textOverBackground_ = pal.color(QPalette::Highlight);
}

void CTextProgressCtrl::SetRange(uint64_t lower, uint64_t upper)
{
    lower_ = lower;
    upper_ = upper;
    SetPos(position_);
}

void CTextProgressCtrl::SetTextColours(const QColor& overBar, const QColor& overBackground)
{
    textOverBar_ = overBar;
    textOverBackground_ = overBackground;
    update();
}

bool CTextProgressCtrl::Fraction(uint64_t lower, uint64_t upper, uint64_t position, double& fraction)
{
    fraction = 0.0;
    if (lower >= upper)
        return false;
    // Positions outside the range are held at its ends; unsigned arithmetic
    // below the lower bound would otherwise wrap to an enormous fraction.
    const uint64_t clamped = std::clamp(position, lower, upper);
    fraction = double(clamped - lower) / double(upper - lower);
    return true;
}

int64_t CTextProgressCtrl::SplitWidth(uint64_t lower, uint64_t upper, uint64_t position, int width)
{
    double fraction = 0.0;
    if (!Fraction(lower, upper, position, fraction) || width <= 0)
        return 0;
    return int64_t(std::trunc(fraction * double(width)));
}

QString CTextProgressCtrl::Label(uint64_t lower, uint64_t upper, uint64_t position)
{
    double fraction = 0.0;
    if (!Fraction(lower, upper, position, fraction))
        return QString();
    if (fraction >= 1.0)
        fraction = 0.999;
    return QString::asprintf("%.1f%%", fraction * 100.0);
}

void CTextProgressCtrl::SetPos(uint64_t position)
{
    position_ = position;
    const int64_t filled = SplitWidth(lower_, upper_, position_, width());
    if (filled != filledWidth_) {
        filledWidth_ = filled;
        repaint();
    }
    update();
}

QSize CTextProgressCtrl::sizeHint() const
{
    return QSize(160, fontMetrics().height() + 6);
}

void CTextProgressCtrl::paintEvent(QPaintEvent*)
{
    const QRect client = rect();
    const QString label = Label(lower_, upper_, position_);
    if (label.isEmpty())
        return;  // empty or reversed range: nothing to draw

    QPainter painter(this);
    const int split = client.left() + int(SplitWidth(lower_, upper_, position_, client.width()));
    const QRect barPart(client.left(), client.top(), split - client.left(), client.height());
    const QRect restPart(split, client.top(), client.right() + 1 - split, client.height());
    painter.fillRect(barPart, barColour_);
    painter.fillRect(restPart, backgroundColour_);

    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.save();
    painter.setClipRect(barPart);
    painter.setPen(textOverBar_);
    painter.drawText(client, flags, label);
    painter.restore();
    painter.setClipRect(restPart);
    painter.setPen(textOverBackground_);
    painter.drawText(client, flags, label);
}
