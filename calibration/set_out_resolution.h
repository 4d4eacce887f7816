#pragma once
// CSetOutResoltion: "Output Resolution Setting". Shows the HDMI timing the
// player reports (and its VGA preset), lets the operator pick a preset or
// type the nine values, and sends them with CMD_OUTPUT_RESOLUTION.

#include "calibration/output_timing.h"
#include "platform/window.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QPushButton;
class QSpinBox;

class CSetOutResoltion : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    // `playerKind` 3 keeps the manual input and the VGA half disabled.
    CSetOutResoltion(const QString& titlePrefix, uint32_t playerKind, QWidget* parent = nullptr);
    ~CSetOutResoltion() override;

    void OnHdmiPreset(int index);     // combo 1501
    void OnVgaPreset(int index);      // combo 1521
    void OnManualInput(bool on);      // 1520
    void OnSetHdmi();                 // 1
    void OnSetVga();                  // 1522
    // WM_OUTPUT_MODE_REPLY: wParam 0 HDMI, 1 VGA; the record is freed here.
    void OnOutputModeReply(platform::WPARAM output, calib::OutputTiming* record);

    calib::OutputTiming hdmiFields() const;
    const calib::OutputTiming& vgaTiming() const { return vga_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showFields(const calib::OutputTiming& t);
    void setHdmiEditsEnabled(bool on);

    unsigned language_;
    uint32_t kind_;
    bool manual_ = false;
    calib::OutputTiming hdmi_;
    calib::OutputTiming vga_;
    std::array<QSpinBox*, calib::OutputTiming::kFields> edits_{};
    QComboBox* hdmiCombo_ = nullptr;
    QComboBox* vgaCombo_ = nullptr;
    QCheckBox* manualBox_ = nullptr;
    QPushButton* vgaSet_ = nullptr;
};
