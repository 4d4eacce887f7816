#pragma once
// The layout canvases: CContentView draws one screen of the layout model
// (background, cell grid, windows, the picture being placed) and lets the
// operator drop, select, move, resize, snap and delete windows with a
// CImageRectTracker. CContentTabView holds one per screen. The canvas also
// carries two key sequences: five F8 for the factory reset, and F11 that
// arms the service keys F5, F7, F9 and F12.

#include "core/layout/image_rect_tracker.h"

#include <QAbstractScrollArea>
#include <QTabWidget>

#include <array>
#include <cstdint>

class CvelunaDoc;
class QMenu;

class CContentView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr uint32_t kBackground = 0x00C0C0C0;
    static constexpr int kCmdClose = 32771;
    static constexpr int kCmdMaskParameter = 32789;

    CContentView(uint16_t screen, unsigned language, QWidget* parent = nullptr);

    // The document asked for layout work (null: the canvas only draws).
    void SetDocument(CvelunaDoc* document) { document_ = document; }

    void ResetScroll(bool full);
    void RefreshSelection(bool keepIfInside);
    void UpdateTrackerMetrics(int canvasWidth, int canvasHeight, double zoomX, double zoomY);
    void SetZoom(double zoom);
    void SetCanvasSize(int width, int height);

    double zoom() const { return zoom_; }
    uint16_t screen() const { return screen_; }
    int canvasWidth() const { return canvasWidth_; }
    int canvasHeight() const { return canvasHeight_; }
    const layout::LayoutRect& selection() const { return selection_; }
    const CImageRectTracker& tracker() const { return tracker_; }
    bool serviceArmed() const { return serviceArmed_ != 0; }
    int f8Count() const { return f8Count_; }
    bool locked() const { return locked_ != 0; }
    void SetLocked(bool on) { locked_ = on ? 1 : 0; }

    // The canvas's model point of a viewport point (screen-relative pixels).
    QPoint ModelPoint(QPoint viewPoint) const;
    // The context menu "Edit": "Close" and "Mask Parameter Setting".
    QMenu* BuildContextMenu(QWidget* parent) const;
    // Draws the canvas as it appears (tests draw into an image).
    void DrawCanvas(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnLButtonUp();
    void AfterEdit(bool requireConnection);
    void OnServiceKey(int key);
    void PromptFactoryReset();
    layout::LayoutRect ScreenRect() const;
    layout::LayoutRect ToDevice(const layout::LayoutRect& model) const;
    void UpdateScrollBars();
    void ShowCursorText(QPoint viewPoint);

    CvelunaDoc* document_ = nullptr;
    unsigned language_;
    CImageRectTracker tracker_;
    layout::LayoutRect selection_{-1, -1, -1, -1};
    uint8_t f8Count_ = 0;
    uint8_t trackerChanged_ = 0;
    uint8_t serviceArmed_ = 0;
    uint8_t locked_ = 0;
    int scrollWidth_ = 0;
    int scrollHeight_ = 0;
    double zoom_ = 0.1;
    int canvasWidth_ = 3840;
    int canvasHeight_ = 2160;
    uint16_t screen_ = 0;
};

class CContentTabView : public QTabWidget {
    Q_OBJECT
public:
    explicit CContentTabView(unsigned language, QWidget* parent = nullptr);

    CContentView* view(int screen) const { return views_[std::size_t(screen)]; }
    void SetDocument(CvelunaDoc* document);
    // Shows or hides a screen's tab (the first is always shown).
    void SetScreenVisible(int screen, bool visible);
    bool IsScreenVisible(int screen) const;

private:
    std::array<CContentView*, 4> views_{};
    CvelunaDoc* document_ = nullptr;
};
