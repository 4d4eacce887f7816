#pragma once
// The three-step warp wizard's sheet: it owns the pages, switches between
// them, routes the player's replies (WM_BLEND_WIZARD_REPLY) and its own step
// changes (WM_WARP_WIZARD_STEP) to the page that waits for them, and never
// closes on a confirmed quit without asking the player to leave its
// adjustment mode.

#include "calibration/warp_geometric_page.h"
#include "calibration/warp_param_page.h"
#include "calibration/warp_setup_page.h"
#include "platform/window.h"

#include <QDialog>

class QPushButton;
class CvelunaDoc;

namespace calib {

// The wizard's caption (after the document's prefix) in the language given.
QString WarpWizardCaption(int language);

class CWarpMain : public QDialog, public platform::MessageWindow {
public:
    struct Inputs {
        QString prefix;
        std::vector<DeviceRecord> devices;
        SendTarget current;
        QString playerFolder;
        uint16_t channelCount = 0;
        uint16_t version = 0;
    };
    explicit CWarpMain(Inputs inputs, QWidget* parent = nullptr);
    ~CWarpMain() override;

    void OnNext();
    void OnBack();
    void OnQuit();
    void ShowStep(int step);
    int step() const { return step_; }
    uint32_t quitCount() const { return quits_; }
    bool closed() const { return closing_; }

    CWarpParamPage& paramPage() { return *param_; }
    CWarpGeometricPage& geometricPage() { return *geometric_; }
    CWarpSetupPage& setupPage() { return *setup_; }

protected:
    void keyPressEvent(QKeyEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void reject() override;

private:
    platform::LRESULT onReply(platform::LPARAM l);
    platform::LRESULT onStep(platform::LPARAM l);
    void finish();

    Inputs in_;
    int language_ = 9;
    int step_ = 0;
    uint32_t quits_ = 0;
    bool closing_ = false;
    CWarpParamPage* param_ = nullptr;
    CWarpGeometricPage* geometric_ = nullptr;
    CWarpSetupPage* setup_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs the wizard for the document's player; leaving adjustment mode has the
// document upload the files the wizard wrote.
void OpenWarpWizard(CvelunaDoc& doc);

}  // namespace calib
