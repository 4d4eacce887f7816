#pragma once
// CTextProgressCtrl: a progress bar that prints its percentage over itself,
// half in one colour over the filled part and half in another over the
// empty part, so the label stays readable wherever the split falls. Takes
// 64-bit positions, because file transfers count bytes of many megabytes.

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>

class CTextProgressCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // The owner sets the range before use (0..1 until then).
    void SetRange(uint64_t lower, uint64_t upper);
    void SetPos(uint64_t position);
    uint64_t GetPos() const { return position_; }
    uint64_t lower() const { return lower_; }
    uint64_t upper() const { return upper_; }
    // Pixels of the bar computed by the last SetPos.
    int64_t filledWidth() const { return filledWidth_; }

    void SetBarColour(const QColor& colour) { barColour_ = colour; update(); }
    void SetBackgroundColour(const QColor& colour) { backgroundColour_ = colour; update(); }
    void SetTextColours(const QColor& overBar, const QColor& overBackground);
    QColor barColour() const { return barColour_; }
    QColor backgroundColour() const { return backgroundColour_; }
    QColor textOverBar() const { return textOverBar_; }
    QColor textOverBackground() const { return textOverBackground_; }

    // Fraction done, 0..1 for any position; nothing to show (false) when the
    // range is empty or reversed.
    static bool Fraction(uint64_t lower, uint64_t upper, uint64_t position, double& fraction);
    // Pixels of `width` covered by the bar; 0 for an empty range.
    static int64_t SplitWidth(uint64_t lower, uint64_t upper, uint64_t position, int width);
    // "%.1f%%" of the fraction; a finished bar reads 99.9% (never 100.0%),
    // an empty range gives an empty label.
    static QString Label(uint64_t lower, uint64_t upper, uint64_t position);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor barColour_;
    QColor backgroundColour_;
    QColor textOverBar_;
    QColor textOverBackground_;
    uint64_t lower_ = 0;
    uint64_t upper_ = 1;
    uint64_t position_ = 0;
    int64_t filledWidth_ = 0;
};
