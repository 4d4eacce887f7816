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
    // Where a cell's four widths are written (left, top, right, bottom) in
    // the painter's font: clear of each other, of the cell's lines and of
    // the neighbouring cells' numbers.
    static std::array<QRect, 4> BandLabelRects(const QRect& cell, bool firstColumn, bool lastColumn, bool firstRow,
                                               bool lastRow, const QFontMetrics& metrics, const BlendBands& bands);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    void updateChannelChecks();
    void paintSwatch(int colour);
    QRect gridArea(int screen) const;
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

// Band widths applied by the width dialog: type 0 clear all around, 1 row,
// 2 column, 3 single (side 0 left, 1 right, 2 top, 3 bottom).
void ApplyBandEdit(ScreenLayout& screen, int row, int column, int type, int side, uint16_t width);

}  // namespace calib
