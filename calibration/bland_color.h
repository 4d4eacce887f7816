#pragma once
// CBlandColor: the "Color" tab of the warp setup page. Eight swatches and a
// grey checkerboard; a click (or a colour from the colour dialog) makes the
// players show that colour full-screen. It also sends the request that ends
// the player's adjustment mode.
//
// One colour request is in flight at a time. The wizard routes the reply
// to whichever page has a request outstanding and calls OnColourReply.

#include "calibration/test_patterns.h"
#include "common/hit_test.h"
#include "transport/records.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class CBlandColor : public QWidget {
    Q_OBJECT
public:
    struct Swatch {
        geom::RectI rect;
        calib::ColourRef colour;
    };
    static const std::array<Swatch, 8>& Swatches();
    static constexpr int kGridSwatch = 4;  // the checkerboard lies on swatch 4
    static constexpr calib::ColourRef kGridLight = calib::Rgb(253, 253, 253);
    static constexpr calib::ColourRef kGridDark = calib::Rgb(222, 222, 222);
    // A request whose reply never comes frees the page after this long.
    static constexpr int kReplyTimeoutMs = 5000;

    explicit CBlandColor(QWidget* parent = nullptr);
    ~CBlandColor() override;

    // The wizard's target players; empty: the current player drives all.
    std::vector<SendTarget> players;
    // The colour dialog (initial colour black); tests answer it.
    std::function<std::optional<QColor>()> chooseColour;

    void SendTestColour(calib::ColourRef colour);
    void SendAdjustEnd();
    void OnCustomColour();  // 2401
    // A click at (x, y) in the page's pixels.
    void OnLButtonDown(int x, int y);
    // The reply to the colour request: the sequence moves on, the page is free.
    void OnColourReply();

    bool busy() const { return busy_; }
    bool waiting() const { return waiting_; }
    bool HasRequestOutstanding() const { return busy_ || waiting_; }
    uint16_t sequence() const { return sequence_; }
    void setSequence(uint16_t s) { sequence_ = s; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    uint16_t sequence_ = 0;
    bool busy_ = false;
    bool waiting_ = false;
    QTimer replyTimeout_;
};

// The checkerboard over swatch 4, column by column.
void DrawBlandColor(QPainter& painter);
