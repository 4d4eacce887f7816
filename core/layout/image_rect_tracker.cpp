#include "core/layout/image_rect_tracker.h"

#include <QColor>
#include <QPainter>
#include <QPen>

#include <algorithm>

using layout::LayoutRect;

LayoutRect CImageRectTracker::HandleRect(int hit) const
{
    const LayoutRect r = rect;
    const int h = handleSize;
    const bool outside = (style & ResizeOutside) != 0;
    // Inside handles lie within the rectangle; outside ones straddle it.
    const int l = outside ? r.left - h : r.left;
    const int t = outside ? r.top - h : r.top;
    const int rr = outside ? r.right : r.right - h;
    const int b = outside ? r.bottom : r.bottom - h;
    const int cx = (r.left + r.right) / 2 - h / 2;
    const int cy = (r.top + r.bottom) / 2 - h / 2;
    switch (hit) {
    case HitTopLeft: return {l, t, l + h, t + h};
    case HitTopRight: return {rr, t, rr + h, t + h};
    case HitBottomRight: return {rr, b, rr + h, b + h};
    case HitBottomLeft: return {l, b, l + h, b + h};
    case HitTop: return {cx, t, cx + h, t + h};
    case HitRight: return {rr, cy, rr + h, cy + h};
    case HitBottom: return {cx, b, cx + h, b + h};
    case HitLeft: return {l, cy, l + h, cy + h};
    default: return {};
    }
}

unsigned CImageRectTracker::HandleMask() const
{
    unsigned mask = 0x0F;
    if (rect.width() > 3 * handleSize)
        mask |= 0x50;  // top and bottom
    if (rect.height() > 3 * handleSize)
        mask |= 0xA0;  // right and left
    return mask;
}

int CImageRectTracker::HitTest(int x, int y) const
{
    if (rect.isEmpty())
        return HitNothing;
    if (style & (ResizeInside | ResizeOutside)) {
        const unsigned mask = HandleMask();
        for (int i = 0; i < 8; ++i) {
            if ((mask & (1u << i)) && HandleRect(i).contains(x, y))
                return i;
        }
    }
    if (rect.contains(x, y))
        return HitMiddle;
    if ((style & HatchedBorder) && LayoutRect{rect.left - handleSize, rect.top - handleSize, rect.right + handleSize,
                                              rect.bottom + handleSize}
                                       .contains(x, y))
        return HitMiddleHatched;
    return HitNothing;
}

Qt::CursorShape CImageRectTracker::CursorFor(int hit)
{
    switch (hit) {
    case HitTopLeft:
    case HitBottomRight: return Qt::SizeFDiagCursor;
    case HitTopRight:
    case HitBottomLeft: return Qt::SizeBDiagCursor;
    case HitTop:
    case HitBottom: return Qt::SizeVerCursor;
    case HitRight:
    case HitLeft: return Qt::SizeHorCursor;
    case HitMiddle:
    case HitMiddleHatched: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

bool CImageRectTracker::SetCursor(int x, int y, Qt::CursorShape& cursor)
{
    const int hit = HitTest(x, y);
    if (hit == HitNothing)
        return false;
    cursor = CursorFor(hit);
    lastHit = hit;
    return true;
}

bool CImageRectTracker::Press(int x, int y)
{
    const int hit = HitTest(x, y);
    if (hit == HitNothing)
        return false;
    tracking_ = true;
    trackHit_ = hit == HitMiddleHatched ? HitMiddle : hit;
    lastHit = trackHit_;
    start_ = rect;
    startX_ = x;
    startY_ = y;
    return true;
}

void CImageRectTracker::Move(int x, int y)
{
    if (!tracking_)
        return;
    const LayoutRect old = rect;
    const int dx = x - startX_;
    const int dy = y - startY_;
    LayoutRect r = start_;
    const int h = trackHit_;
    if (h == HitMiddle) {
        r = start_.translated(dx, dy);
    } else {
        const bool moveLeft = h == HitTopLeft || h == HitBottomLeft || h == HitLeft;
        const bool moveRight = h == HitTopRight || h == HitBottomRight || h == HitRight;
        const bool moveTop = h == HitTopLeft || h == HitTopRight || h == HitTop;
        const bool moveBottom = h == HitBottomLeft || h == HitBottomRight || h == HitBottom;
        if (moveLeft)
            r.left = std::min(start_.left + dx, r.right - minWidth);
        if (moveRight)
            r.right = std::max(start_.right + dx, r.left + minWidth);
        if (moveTop)
            r.top = std::min(start_.top + dy, r.bottom - minHeight);
        if (moveBottom)
            r.bottom = std::max(start_.bottom + dy, r.top + minHeight);
    }
    rect = r;
    OnChangedRect(old);
}

bool CImageRectTracker::Release(int x, int y)
{
    if (!tracking_)
        return false;
    Move(x, y);
    tracking_ = false;
    trackHit_ = HitNothing;
    return !(rect == start_);
}

void CImageRectTracker::Cancel()
{
    if (tracking_)
        rect = start_;
    tracking_ = false;
    trackHit_ = HitNothing;
}

void CImageRectTracker::OnChangedRect(const LayoutRect& old)
{
    const int hit = lastHit;
    auto in = [hit](std::initializer_list<int> hits) { return std::find(hits.begin(), hits.end(), hit) != hits.end(); };
    auto restoreX = [&] {
        rect.left = old.left;
        rect.right = old.right;
    };
    auto restoreY = [&] {
        rect.top = old.top;
        rect.bottom = old.bottom;
    };
    if (!bounds.isEmpty()) {
        if (rect.left < bounds.left && in({0, 3, 7, 8}))
            restoreX();
        if (rect.right > bounds.right && in({1, 2, 5, 8}))
            restoreX();
        if (rect.top < bounds.top && in({0, 1, 4, 8}))
            restoreY();
        if (rect.bottom > bounds.bottom && in({2, 3, 6, 8}))
            restoreY();
    }
    if (maxWidth > 0 && rect.width() > maxWidth && in({0, 1, 2, 3, 5, 7}))
        restoreX();
    if (maxHeight > 0 && rect.height() > maxHeight && in({0, 1, 2, 3, 4, 6}))
        restoreY();
}

void CImageRectTracker::Draw(QPainter& painter) const
{
    painter.save();
    const QColor c = QColor::fromRgb(layout::colorRefToRgb(color));
    const LayoutRect r = rect;
    if (style & (SolidLine | DottedLine)) {
        painter.setPen(QPen(c, 1, (style & DottedLine) ? Qt::DotLine : Qt::SolidLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(r.left - 1, r.top - 1, r.width() + 1, r.height() + 1));
    }
    if (style & HatchInside) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QBrush(c, Qt::BDiagPattern));
        painter.drawRect(QRect(r.left + 1, r.top + 1, r.width() - 1, r.height() - 1));
    }
    if (style & (ResizeInside | ResizeOutside)) {
        const unsigned mask = HandleMask();
        for (int i = 0; i < 8; ++i) {
            if (mask & (1u << i)) {
                const LayoutRect h = HandleRect(i);
                painter.fillRect(QRect(h.left, h.top, h.width(), h.height()), c);
            }
        }
    }
    painter.restore();
}
