#pragma once
// Step 1 of the warp wizard: one or two screens of projector cells, their
// channels, blend bands, rotation and guide colours, checked by the ordered
// rules (warp_settings.h) and stored as config/Warp.QVE.

#include "calibration/warp_settings.h"
#include "transport/announcement.h"
#include "transport/records.h"

#include <QFontMetrics>
#include <QWidget>

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPainter;
class QRadioButton;
class QSpinBox;

namespace calib {

class CWarpParamPage : public QWidget {
public:
    struct Inputs {
        std::vector<DeviceRecord> devices;
        SendTarget current;
        uint16_t channelCount = 0;
        uint16_t version = 0;
        QString playerFolder;
        QString prefix;
    };
    CWarpParamPage(Inputs inputs, QWidget* parent = nullptr);

    // Defaults, then (with readFile) config/Warp.QVE; refused files show
    // their message. Sets the controls.
    void LoadWarpSettings(bool readFile);
    // The rules on a copy; the first failure is shown and nothing changes.
    bool ValidateAndSave();
    // True when the key was taken.
    bool OnKey(int key, Qt::KeyboardModifiers modifiers);

    const WarpSettings& settings() const { return settings_; }
    const std::vector<SendTarget>& targets() const { return targets_; }
    WarpForm form() const;  // what the controls hold
    void setForm(const WarpForm& form);
    bool skipGeometry() const;
    // A cell of a screen's grid (9 x 9 cells, neighbours overlapping by 5).
    QRect cellRect(int screen, int row, int column) const;
    // The area a screen's grid is drawn in.
    QRect gridArea(int screen) const;
    // Where a cell's four widths are written (left, top, right, bottom) in
    // text of these metrics: inside the cell's inner area, so clear of its
    // lines and of the neighbouring cells' numbers, and clear of each other.
    // A number that does not fit there, or would cover one placed before it,
    // gets a null rectangle and is not drawn.
    static std::array<QRect, 4> BandLabelRects(const QRect& cell, bool firstColumn, bool lastColumn, bool firstRow,
                                               bool lastRow, const QFontMetrics& metrics, const BlendBands& bands);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    void updateChannelChecks();
    void paintSwatch(int colour);
    void sendToWizard(int command);

    Inputs in_;
    int language_ = 9;
    WarpSettings settings_;
    std::vector<SendTarget> targets_;
    QComboBox* screenType_ = nullptr;
    QComboBox* rows_[2] = {};
    QComboBox* columns_[2] = {};
    QRadioButton* rotation_[2][3] = {};
    QSpinBox* colour_[5][3] = {};
    QLabel* swatch_[5] = {};
    QCheckBox* channel_[9] = {};
    QComboBox* device_[9] = {};
    QComboBox* number_[9] = {};
    QCheckBox* single_ = nullptr;
    QCheckBox* edit_ = nullptr;
    QCheckBox* hcScreen_ = nullptr;
    QCheckBox* vcScreen_ = nullptr;
    QCheckBox* skip_ = nullptr;
};

// The cell of a grid area (9 x 9 cells, neighbours overlapping by 5).
QRect GridCellRect(const QRect& area, int row, int column);

// Draws a screen's used cells (rows x columns) in `area` with their band
// widths in `font`, placed from the metrics the painter has for that font.
// Returns where each cell's numbers went, four per cell in row-major order
// (null where one was left out).
std::vector<std::array<QRect, 4>> DrawBandGrid(QPainter& p, const QFont& font, const QRect& area,
                                               const ScreenLayout& screen, int rows, int columns);

// Band widths applied by the width dialog: type 0 clear all around, 1 row,
// 2 column, 3 single (side 0 left, 1 right, 2 top, 3 bottom).
void ApplyBandEdit(ScreenLayout& screen, int row, int column, int type, int side, uint16_t width);

}  // namespace calib
