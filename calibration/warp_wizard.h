#pragma once
// The three-step warp wizard: step 1 lays out screens, channels, bands and
// guide colours (Warp.QVE); step 2 corrects each channel's geometry on the
// player with a point grid; step 3 hosts the edge-blending and test-colour
// pages. The sheet routes the player's replies (WM_BLEND_WIZARD_REPLY) and
// its own step changes (WM_WARP_WIZARD_STEP) to the page that waits for
// them, and never closes on a confirmed quit without asking the player to
// leave its adjustment mode.

#include "calibration/geometric_correction.h"
#include "calibration/warp_settings.h"
#include "platform/window.h"
#include "transport/announcement.h"
#include "transport/records.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class CvelunaDoc;

namespace calib {

// The wizard's caption (after the document's prefix) in the language given.
QString WarpWizardCaption(int language);

// Hands a request to the main window with the page's sequence number at
// header offset 6. False when no main window took it.
bool SendWarpRequest(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, uint16_t sequence,
                     const QByteArray& payload, const std::vector<SendTarget>& targets);

// ---------------------------------------------------------------- step 1

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

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    void updateChannelChecks();
    void paintSwatch(int colour);
    QRect gridArea(int screen) const;
    QRect cellRect(int screen, int row, int column) const;
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

// ---------------------------------------------------------------- step 2

// The key step after an arrow key was held for `ticks` timer ticks of 250 ms.
int ArrowStepForTicks(int ticks);

class CWarpGeometricPage : public QWidget {
public:
    CWarpGeometricPage(QWidget* parent = nullptr);
    ~CWarpGeometricPage() override;

    // Set by the wizard before use.
    QString prefix;
    QString playerFolder;
    uint16_t channelCount = 0;
    uint16_t version = 0;
    bool singleChannel = false;
    bool horizontalCurved = false;
    bool verticalCurved = false;
    std::vector<SendTarget> targets;
    uint8_t pendingStep = 0;
    uint16_t sequence = 0;

    // Builds the output configuration from the block and loads the grids.
    void ApplyWarpSettings(const WarpSettings& settings);
    // Entering step 2: first active channel, busy, and the entry chain.
    void Start();
    // Leaving towards `step` (1 back, 3 forward, 0 close): blend switch on.
    void Leave(uint8_t step);
    void SendBlendSwitch(uint8_t on);
    void SendVideoChannelSetup();
    void LeaveAdjustment();
    void OnReply(uint8_t command, uint8_t status);
    bool SaveJunctionPoints();
    int FirstActiveChannel() const;
    void OnPreviousChannel();
    void OnNextChannel();
    bool OnKey(int key, Qt::KeyboardModifiers modifiers, bool pressed, bool autoRepeat);
    // Custom edge shapes of screen 1 or 2; Stop returns to the grids.
    void EnterShapes(int set);
    void StopShapes();
    void MoveShape(int delta);
    int shapeSet() const { return shapeSet_; }

    bool busy() const { return busy_; }
    bool inAdjustment() const { return inAdjustment_; }
    const CGeometricCorrection& model() const { return *model_; }
    CGeometricCorrection& model() { return *model_; }
    QString status() const;

    // The 10,240-byte point block of the corrected grid (or the current
    // shape set) of the current channel.
    QByteArray PointBlock(bool shapes) const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    void showShapeLabel();
    bool send(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, const QByteArray& payload,
              const std::vector<SendTarget>& to, int expected = 1);
    std::vector<SendTarget> allTargets() const;
    std::vector<SendTarget> currentTarget() const;
    std::vector<SendTarget> otherTargets() const;
    void EnterAdjustment();
    void SelectChannelRequest();
    void SelectChannel(int channel);
    void SendGridPoints();
    void SendReferenceGrid();
    void SendShapePoints();
    bool SendChannelMap();
    void notifyWizard(uint8_t step);
    void setStatus(const char* english, const char* chinese, int value = -1);
    void layoutCanvas();
    void onTick();

    int language_ = 9;
    std::unique_ptr<CGeometricCorrection> model_;
    WarpSettings settings_;
    bool busy_ = false;
    bool inAdjustment_ = false;
    int expected_ = 1, received_ = 0;
    int direction_ = 0;
    bool sendReferenceNext_ = false;
    uint8_t lastMapSub_ = 0;
    uint16_t transparency_ = 0;
    bool pressed_ = false;
    bool keyHeld_ = false;
    int ticks_ = 0;
    QLabel* label_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* shape1_ = nullptr;
    QPushButton* shape2_ = nullptr;
    QPushButton* shapeStop_ = nullptr;
    QPushButton* shapeBack_ = nullptr;
    QPushButton* shapeNext_ = nullptr;
    QComboBox* shapeFlag_ = nullptr;
    QSlider* alpha_ = nullptr;
    int shapeSet_ = 0;  // 0 none, 1 or 2
    QTimer* timer_ = nullptr;
};

// ---------------------------------------------------------------- step 3

// What a page hosted on step 3 offers the wizard. The edge-blending and the
// test-colour pages are made by factories that the calibration feature
// installs, so the wizard is built and tested without them.
class WizardTabPage {
public:
    virtual ~WizardTabPage() = default;
    virtual QWidget* widget() = 0;
    virtual void setTargets(const std::vector<SendTarget>& targets, bool singleChannel) = 0;
    virtual uint16_t sequence() const = 0;
    virtual void setSequence(uint16_t sequence) = 0;
    // A request was sent and its reply has not come yet.
    virtual bool awaitingReply() const = 0;
    virtual void onPlayerReply(uint8_t command, uint8_t status) = 0;
    virtual bool inAdjustment() const = 0;
    virtual void enterAdjustment() = 0;
    virtual void leaveAdjustment() = 0;
    virtual bool onKey(int key, Qt::KeyboardModifiers modifiers) = 0;
    // Blending page only (the others ignore them).
    virtual void loadArrangement(const BlendArrangement&) {}
    virtual void sendTestColours() {}
    virtual bool saveGamma() { return true; }
};

struct WizardTabContext {
    QString prefix;
    QString playerFolder;
    uint16_t channelCount = 0;
    QWidget* parent = nullptr;
};
using WizardTabFactory = std::function<std::unique_ptr<WizardTabPage>(const WizardTabContext&)>;
// An empty factory leaves that tab with a page that sends nothing.
void setBlendingPageFactory(WizardTabFactory factory);
void setColourPageFactory(WizardTabFactory factory);

class CWarpSetupPage : public QWidget {
public:
    CWarpSetupPage(const WizardTabContext& context, QWidget* parent = nullptr);
    ~CWarpSetupPage() override;

    void ApplyWarpSettings(const WarpSettings& settings, bool singleChannel, const std::vector<SendTarget>& targets);
    // True when no page kept the player in adjustment mode.
    bool StopAdjusting();
    // A reply for step 3: to the page that waits for one (the blending page
    // first), else to the page of the visible tab.
    void OnReply(uint8_t command, uint8_t status);
    void OnTabChange(int tab);
    int currentTab() const;
    WizardTabPage& blending() { return *blending_; }
    WizardTabPage& colours() { return *colours_; }
    const BlendArrangement& arrangement() const { return arrangement_; }

private:
    QTabWidget* tabs_ = nullptr;
    std::unique_ptr<WizardTabPage> blending_;
    std::unique_ptr<WizardTabPage> colours_;
    BlendArrangement arrangement_;
};

// ---------------------------------------------------------------- sheet

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

// Runs the wizard for the document's player and uploads what it wrote.
void OpenWarpWizard(CvelunaDoc& doc);

}  // namespace calib

// Registers the wizard as the setup editor of products 1 and 3.
void InstallCalibrationFeature();
