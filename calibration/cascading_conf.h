#pragma once
// CCascadingConf: "Cascading Settings". Reads the player's cascade role and
// slave addresses on opening and writes them back on OK.

#include "calibration/cascade_settings.h"
#include "platform/window.h"

#include <QDialog>

#include <array>

class CIPAddressCtrl;
class QKeyEvent;
class QRadioButton;

namespace replies {
struct CascadeRecord;
}

class CCascadingConf : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    explicit CCascadingConf(const QString& titlePrefix, QWidget* parent = nullptr);
    ~CCascadingConf() override;

    void OnMode(calib::CascadeMode mode);  // radios 3801..3803
    void OnOk();                           // 1: checks, asks, sends; stays open
    // WM_CASCADE_REPLY; takes ownership of the record.
    void OnCascadeReply(replies::CascadeRecord* record);

    calib::CascadeMode mode() const { return mode_; }
    CIPAddressCtrl* address(int index) const { return addresses_[std::size_t(index)]; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    unsigned language_;
    calib::CascadeMode mode_ = calib::CascadeMode::Independent;
    std::array<QRadioButton*, 3> radios_{};
    std::array<CIPAddressCtrl*, calib::kCascadeAddresses> addresses_{};
};
