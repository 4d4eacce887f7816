#pragma once
// CControlsView: the picture panel. One page of sixteen library pictures;
// a click picks one up for placing on the canvas. Wheel, Page Up/Down,
// Home and End page through the library; R rescans it.

#include "core/layout/image_manage.h"

#include <QAbstractScrollArea>

#include <array>

class CvelunaDoc;

class CControlsView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr uint32_t kBackground = 0x00E8A200;
    static constexpr uint32_t kFrame = 0x00A07CF3;
    static constexpr uint32_t kCaption = 0x000000FF;

    explicit CControlsView(unsigned language, QWidget* parent = nullptr);
    void SetDocument(CvelunaDoc* document) { document_ = document; }
    // Slot rectangles for the present size (panel coordinates).
    const std::array<layout::LayoutRect, layout::kSlotCount>& slotRects() const { return slotRects_; }
    void Draw(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void LayoutSlots();

    CvelunaDoc* document_ = nullptr;
    unsigned language_;
    std::array<layout::LayoutRect, layout::kSlotCount> slotRects_{};
};
