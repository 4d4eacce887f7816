#pragma once
// CImageRectTracker: the rubber-band rectangle with which a window is moved
// and resized by mouse. It is a widget-free state machine so that every
// editor (layout canvas, window editor, QR code, games) shares the rules:
//
//   tracker.rect = ...; tracker.bounds = ...; tracker.minSize = ...;
//   // mouse press:   if (tracker.Press(p)) grab the mouse
//   // mouse move:    tracker.Move(p); repaint
//   // mouse release: if (tracker.Release(p)) store tracker.rect
//   // hover:         cursor = CImageRectTracker::CursorFor(tracker.HitTest(p))
//
// All points and rectangles are in the owner's device pixels. Handles:
// 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left, 4 top, 5 right,
// 6 bottom, 7 left, 8 middle (move), 9 middle over a hatched border.
// After each step of a drag the step is undone per axis when it leaves
// `bounds` or passes the maximum size (OnChangedRect); a resize never makes
// the rectangle smaller than `minSize`.

#include "core/layout/image_manage.h"

#include <Qt>

#include <cstdint>

class QPainter;

class CImageRectTracker {
public:
    enum Hit : int {
        HitNothing = -1,
        HitTopLeft = 0,
        HitTopRight = 1,
        HitBottomRight = 2,
        HitBottomLeft = 3,
        HitTop = 4,
        HitRight = 5,
        HitBottom = 6,
        HitLeft = 7,
        HitMiddle = 8,
        HitMiddleHatched = 9,
    };
    // Style bits (may be combined).
    enum Style : unsigned {
        SolidLine = 1,
        DottedLine = 2,
        HatchedBorder = 4,
        ResizeInside = 8,
        ResizeOutside = 16,
        HatchInside = 32,
    };

    layout::LayoutRect rect;    // the rectangle being edited
    unsigned style = DottedLine | ResizeInside;
    int handleSize = 14;
    int minWidth = 1, minHeight = 1;
    layout::LayoutRect bounds;  // empty: no bound
    uint32_t color = 0x000000FF;  // COLORREF of border and handles
    int maxWidth = 0, maxHeight = 0;  // 0: no maximum
    int lastHit = HitNothing;

    // The handle under `(x, y)`, HitNothing outside.
    int HitTest(int x, int y) const;
    static Qt::CursorShape CursorFor(int hit);
    // Hover: the cursor for the handle under the point (false: none, the
    // owner shows its own); remembers the hit in lastHit.
    bool SetCursor(int x, int y, Qt::CursorShape& cursor);

    // Press on a handle starts a drag (true); anywhere else nothing.
    bool Press(int x, int y);
    // One step of the drag to (x, y).
    void Move(int x, int y);
    // Ends the drag; true when the rectangle differs from where it began.
    bool Release(int x, int y);
    void Cancel();
    bool tracking() const { return tracking_; }
    int trackedHit() const { return trackHit_; }

    // The rules applied after each step, with the rectangle before it.
    void OnChangedRect(const layout::LayoutRect& old);

    // Border and handles in `color`.
    void Draw(QPainter& painter) const;
    // The handle's rectangle (for drawing and tests).
    layout::LayoutRect HandleRect(int hit) const;
    // Handles shown: corners always, side handles when there is room.
    unsigned HandleMask() const;

private:
    bool tracking_ = false;
    int trackHit_ = HitNothing;
    layout::LayoutRect start_;
    int startX_ = 0, startY_ = 0;
};
